// The mixer's kernel choice on processors without vector loops of ours (the browser's WebAssembly among
// them): the portable loops of mixer_fast.cpp serve every fast-path request.
#include "sound/mixer_kernels.h"

SndKernel SndBestKernel()
{
    return SndKernel::Portable;
}

bool SndVectorLoops(SndKernel, MixVectorLoops*)
{
    return false;
}
