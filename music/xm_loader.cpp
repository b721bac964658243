// The XM module loader: one forward pass over the file through the ModFile handle, with a few absolute seeks.
// It unpacks the patterns into NoteCells and turns every sample into 16-bit PCM with its guard frames, so the
// player and the mixer never see packing, delta coding or 8-bit data.
//
// Every module is untrusted. Each count is read unsigned and checked against its limit before anything is
// allocated; every temporary is zeroed right before its read, so whatever lies past the end of the file
// reads as zeros (a file cut inside its pattern data gives empty cells from there on).
#include "music/music.h"

#include "sound/sound.h"

#include <cstdlib>
#include <cstring>

// ---- File layout ----------------------------------------------------------------------------------------------

static const char XmSignature[] = "Extended Module: ";
constexpr int32_t XmSignatureBytes = 17;

// Module header, from file offset 0 (the fixed part up to the end of the order table).
constexpr int32_t TitleOffset = 17;
constexpr int32_t TitleBytes = 20;
constexpr int32_t HeaderSizeOffset = 60;  // header size is counted from here
constexpr int32_t SongLengthOffset = 64;
constexpr int32_t RestartOffset = 66;
constexpr int32_t ChannelsOffset = 68;
constexpr int32_t PatternsOffset = 70;
constexpr int32_t InstrumentsOffset = 72;
constexpr int32_t FlagsOffset = 74;
constexpr int32_t TempoOffset = 76;
constexpr int32_t BpmOffset = 78;
constexpr int32_t OrdersOffset = 80;
constexpr int32_t ModuleHeaderBytes = 336;

// Pattern header, taken as 9 bytes whatever its stored length says.
constexpr int32_t PatternRowsOffset = 5;
constexpr int32_t PatternPackedSizeOffset = 7;
constexpr int32_t PatternHeaderBytes = 9;

// Instrument header, from the instrument's start.
constexpr int32_t InstHeaderSizeOffset = 0;
constexpr int32_t InstSampleCountOffset = 27;
constexpr int32_t InstSampleMapOffset = 33;
constexpr int32_t InstVolumeEnvelopeOffset = 129;
constexpr int32_t InstPanningEnvelopeOffset = 177;
constexpr int32_t InstVolumePointsOffset = 225;
constexpr int32_t InstPanningPointsOffset = 226;
constexpr int32_t InstVolumeSustainOffset = 227;
constexpr int32_t InstVolumeLoopStartOffset = 228;
constexpr int32_t InstVolumeLoopEndOffset = 229;
constexpr int32_t InstPanningSustainOffset = 230;
constexpr int32_t InstPanningLoopStartOffset = 231;
constexpr int32_t InstPanningLoopEndOffset = 232;
constexpr int32_t InstVolumeTypeOffset = 233;
constexpr int32_t InstPanningTypeOffset = 234;
constexpr int32_t InstVibratoTypeOffset = 235;
constexpr int32_t InstVibratoSweepOffset = 236;
constexpr int32_t InstVibratoDepthOffset = 237;
constexpr int32_t InstVibratoRateOffset = 238;
constexpr int32_t InstFadeoutOffset = 239;
constexpr int32_t InstHeaderBytes = 241;

// Sample header, taken as 40 bytes whatever the instrument says.
constexpr int32_t SampleLengthOffset = 0;
constexpr int32_t SampleLoopStartOffset = 4;
constexpr int32_t SampleLoopLengthOffset = 8;
constexpr int32_t SampleVolumeOffset = 12;
constexpr int32_t SampleFinetuneOffset = 13;
constexpr int32_t SampleTypeOffset = 14;
constexpr int32_t SamplePanningOffset = 15;
constexpr int32_t SampleRelativeNoteOffset = 16;
constexpr int32_t SampleHeaderBytes = 40;

// ---- Limits ------------------------------------------------------------------------------------------------

constexpr uint32_t MaxOrders = 256;
constexpr uint32_t MaxFilePatterns = 256;
constexpr uint32_t MaxRows = 256;
constexpr uint32_t MaxInstruments = 32767;  // instrumentCount is 16-bit signed
constexpr uint8_t MaxEnvelopePoints = 12;
constexpr uint16_t MaxEnvelopeValue = 64;
constexpr int32_t MissingPatternRows = 64;
constexpr uint8_t EnvelopeLoopBit = 4;
constexpr uint8_t NoteKeyOffInFile = 97;
constexpr uint8_t NoteKeyOff = 255;
constexpr uint8_t MaxCellInstrument = 128;
// Frames allocated around a sample's sound: one leading guard frame, and after the sound the 8 spare frames
// that hold the trailing guard frame plus one for the interpolating read after it.
constexpr uint32_t LeadingGuardFrames = 1;
constexpr uint32_t TrailingSpareFrames = 9;
constexpr uint32_t MaxLoopOverhang = 7;  // a loop may end this many frames past the sound (guard frame limit)

// ---- Little-endian helpers -----------------------------------------------------------------------------------

static uint16_t GetU16(const uint8_t* bytes, int32_t offset)
{
    return static_cast<uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

static uint32_t GetU32(const uint8_t* bytes, int32_t offset)
{
    return static_cast<uint32_t>(bytes[offset]) | (static_cast<uint32_t>(bytes[offset + 1]) << 8) |
           (static_cast<uint32_t>(bytes[offset + 2]) << 16) | (static_cast<uint32_t>(bytes[offset + 3]) << 24);
}

// Zeroes the destination right before the read, so bytes past the end of the file read as 0.
static void ReadBytes(void* destination, int32_t count, ModFile* file)
{
    std::memset(destination, 0, static_cast<size_t>(count));
    ModFileRead(destination, count, file);
}

static uint8_t ReadByte(ModFile* file)
{
    uint8_t value = 0;
    ModFileRead(&value, 1, file);
    return value;
}

// Absolute seek to a position computed in 64 bits; beyond the 32-bit range the file's end is as far as it gets.
static void SeekTo(ModFile* file, int64_t position)
{
    if (position < 0)
        position = 0;
    if (position > INT32_MAX)
        position = INT32_MAX;
    ModFileSeek(file, static_cast<int32_t>(position), FileSeekStart);
}

// ---- Patterns ----------------------------------------------------------------------------------------------

static NoteCell* AllocateCells(int32_t rowCount, int32_t channelCount)
{
    // At least one row of cells, so a pattern of 0 rows can still be read as one empty row.
    int64_t count = int64_t{rowCount > 0 ? rowCount : 1} * (channelCount > 0 ? channelCount : 1);
    return static_cast<NoteCell*>(ModAllocZeroed(static_cast<size_t>(count) * sizeof(NoteCell)));
}

static void UnpackCell(NoteCell* cell, ModFile* file)
{
    uint8_t first = ReadByte(file);
    if (first & 0x80) {
        // A mask: one byte follows for each set bit, in field order.
        cell->note = (first & 0x01) ? ReadByte(file) : 0;
        cell->instrument = (first & 0x02) ? ReadByte(file) : 0;
        cell->volume = (first & 0x04) ? ReadByte(file) : 0;
        cell->effect = (first & 0x08) ? ReadByte(file) : 0;
        cell->param = (first & 0x10) ? ReadByte(file) : 0;
    } else {
        cell->note = first;
        cell->instrument = ReadByte(file);
        cell->volume = ReadByte(file);
        cell->effect = ReadByte(file);
        cell->param = ReadByte(file);
    }
    if (cell->note == NoteKeyOffInFile)
        cell->note = NoteKeyOff;
    if (cell->instrument > MaxCellInstrument)
        cell->instrument = 0;
}

static bool ReadPatterns(Song* song, uint32_t filePatternCount, int64_t fileSize, ModFile* file)
{
    for (uint32_t p = 0; p < filePatternCount; ++p) {
        uint8_t header[PatternHeaderBytes];
        ReadBytes(header, PatternHeaderBytes, file);
        uint32_t rowCount = GetU16(header, PatternRowsOffset);
        uint32_t packedSize = GetU16(header, PatternPackedSizeOffset);
        if (rowCount > MaxRows)
            return false;
        Pattern& pattern = song->patterns[p];
        pattern.rowCount = static_cast<int32_t>(rowCount);
        pattern.cells = AllocateCells(pattern.rowCount, song->channelCount);
        if (pattern.cells == nullptr)
            return false;
        // The packed size only says whether data follows; the cells are unpacked by count, not bounded by it.
        if (packedSize != 0) {
            for (int32_t row = 0; row < pattern.rowCount; ++row) {
                // Past the end of the file every cell unpacks as empty, which the zero-filled cells already
                // are: stop reading there (a hostile header can ask for 256 x 256 x 32 cells).
                if (ModFileTell(file) >= fileSize)
                    break;
                NoteCell* cells = pattern.cells + int64_t{row} * song->channelCount;
                for (int32_t c = 0; c < song->channelCount; ++c)
                    UnpackCell(&cells[c], file);
            }
        }
    }
    // Patterns the order table names but the file does not hold play as 64 empty rows.
    for (int32_t p = static_cast<int32_t>(filePatternCount); p < song->usedPatternCount; ++p) {
        Pattern& pattern = song->patterns[p];
        pattern.rowCount = MissingPatternRows;
        pattern.cells = AllocateCells(pattern.rowCount, song->channelCount);
        if (pattern.cells == nullptr)
            return false;
    }
    return true;
}

// ---- Instruments ---------------------------------------------------------------------------------------------

static void ReadEnvelope(EnvelopePoint* points, const uint8_t* header, int32_t offset)
{
    for (int32_t k = 0; k < MaxEnvelopePoints; ++k) {
        points[k].tick = GetU16(header, offset + k * 4);
        uint16_t value = GetU16(header, offset + k * 4 + 2);
        points[k].value = value > MaxEnvelopeValue ? MaxEnvelopeValue : value;
    }
}

// Keeps an envelope's point count and loop inside its 12 points: a count above 12 becomes 12, fewer than 2
// points turn the envelope off, and a loop that starts at or beyond the last point is no loop.
static void SanitiseEnvelope(uint8_t* pointCount, uint8_t* flags, uint8_t loopStart)
{
    if (*pointCount > MaxEnvelopePoints)
        *pointCount = MaxEnvelopePoints;
    if (*pointCount < 2)
        *flags = 0;
    if (loopStart >= *pointCount)
        *flags = static_cast<uint8_t>(*flags & ~EnvelopeLoopBit);
}

static void ReadInstrumentHeader(Instrument* instrument, const uint8_t* header)
{
    std::memcpy(instrument->sampleMap, header + InstSampleMapOffset, sizeof instrument->sampleMap);
    ReadEnvelope(instrument->volumeEnvelope, header, InstVolumeEnvelopeOffset);
    ReadEnvelope(instrument->panningEnvelope, header, InstPanningEnvelopeOffset);
    instrument->volumePointCount = header[InstVolumePointsOffset];
    instrument->panningPointCount = header[InstPanningPointsOffset];
    instrument->volumeSustain = header[InstVolumeSustainOffset];
    instrument->volumeLoopStart = header[InstVolumeLoopStartOffset];
    instrument->volumeLoopEnd = header[InstVolumeLoopEndOffset];
    instrument->panningSustain = header[InstPanningSustainOffset];
    instrument->panningLoopStart = header[InstPanningLoopStartOffset];
    instrument->panningLoopEnd = header[InstPanningLoopEndOffset];
    instrument->volumeEnvelopeFlags = header[InstVolumeTypeOffset];
    instrument->panningEnvelopeFlags = header[InstPanningTypeOffset];
    instrument->vibratoType = header[InstVibratoTypeOffset];
    instrument->vibratoSweep = header[InstVibratoSweepOffset];
    instrument->vibratoDepth = header[InstVibratoDepthOffset];
    instrument->vibratoRate = header[InstVibratoRateOffset];
    // Twice the stored value, kept to 16 bits.
    instrument->fadeout = static_cast<uint16_t>(GetU16(header, InstFadeoutOffset) * 2u);
    SanitiseEnvelope(&instrument->volumePointCount, &instrument->volumeEnvelopeFlags, instrument->volumeLoopStart);
    SanitiseEnvelope(&instrument->panningPointCount, &instrument->panningEnvelopeFlags,
                     instrument->panningLoopStart);
}

// What the loader keeps about the file while it reads the samples.
struct SampleBudget {
    int64_t fileSize;         // bytes in the file
    int64_t storedBytesLeft;  // stored sample bytes still allowed (twice the file size in all)
};

// Fills a Sample from its 40-byte header and fixes its loop. Returns false when the sample claims more data
// than the file can hold; *storedBytes gets the byte count that the file holds for it.
static bool DecodeSampleHeader(Sample* sample, const uint8_t* header, SampleBudget* budget, uint32_t* storedBytes)
{
    uint32_t length = GetU32(header, SampleLengthOffset);
    uint32_t loopStart = GetU32(header, SampleLoopStartOffset);
    uint32_t loopLength = GetU32(header, SampleLoopLengthOffset);
    uint8_t type = header[SampleTypeOffset];

    // Sample data are disjoint stretches of the file, so one sample cannot hold more than the file, and all
    // of them together no more than the file plus one sample cut short at its end. Anything beyond that
    // would only allocate zeros for data that is not there.
    if (int64_t{length} > budget->fileSize || int64_t{length} > budget->storedBytesLeft)
        return false;
    budget->storedBytesLeft -= length;
    *storedBytes = length;

    sample->volume = header[SampleVolumeOffset];
    sample->finetune = static_cast<int8_t>(header[SampleFinetuneOffset]);
    sample->panning = header[SamplePanningOffset];
    sample->relativeNote = static_cast<int8_t>(header[SampleRelativeNoteOffset]);
    sample->loopMode = LoopNone;
    sample->bits = 8;
    if (type & 0x01)
        sample->loopMode = LoopForward;
    if (type & 0x02)
        sample->loopMode = LoopPingPong;
    if (type & 0x10)
        sample->bits = 16;

    if (sample->loopMode == LoopNone) {
        loopStart = 0;
        loopLength = length;
    }
    // Bytes to frames. An odd 16-bit byte count keeps length = bytes / 2; its last byte is skipped.
    if (sample->bits == 16) {
        length /= 2;
        loopStart /= 2;
        loopLength /= 2;
    }
    if (loopLength == 0) {
        loopStart = 0;
        loopLength = length;
        sample->loopMode = LoopNone;
    }
    // The loop must end where the guard frame can be written: a silent sample never loops, a loop starting at
    // or beyond the sound is no loop, and a loop ending past the guard frame's limit is cut at the sound's end.
    if (length == 0) {
        sample->loopMode = LoopNone;
        loopStart = 0;
        loopLength = 0;
    } else if (loopStart >= length) {
        sample->loopMode = LoopNone;
        loopStart = 0;
        loopLength = length;
    } else if (uint64_t{loopStart} + loopLength > uint64_t{length} + MaxLoopOverhang) {
        loopLength = length - loopStart;
    }
    sample->length = length;
    sample->loopStart = loopStart;
    sample->loopLength = loopLength;
    return true;
}

// Reads (or takes from the hook) the data of one sample with length > 0 and makes it 16-bit PCM with its
// guard frames.
static bool LoadSampleData(Song* song, Sample* sample, uint32_t storedBytes, int32_t instrumentIndex,
                           int32_t sampleIndex, ModFile* file)
{
    uint32_t length = sample->length;
    size_t frames = size_t{LeadingGuardFrames} + length + TrailingSpareFrames;
    auto* block = static_cast<int16_t*>(ModAllocZeroed(frames * sizeof(int16_t)));
    if (block == nullptr)
        return false;
    sample->data = block + LeadingGuardFrames;
    int16_t* data = sample->data;
    auto* raw = reinterpret_cast<uint8_t*>(data);
    const size_t rawBytes = (size_t{length} + TrailingSpareFrames) * sizeof(int16_t);

    // The hook and the file both fill the first byteCount bytes; the buffer the hook sees is length * 2 + 16
    // bytes long, as the hook protocol promises.
    int32_t byteCount = static_cast<int32_t>(uint64_t{sample->bits} * length / 8);
    if (song->onSampleLoad != nullptr) {
        song->onSampleLoad(raw, byteCount, sample->bits, instrumentIndex, sampleIndex);
        ModFileSeek(file, static_cast<int32_t>(storedBytes), FileSeekCurrent);
    } else {
        ModFileRead(raw, byteCount, file);
        // The odd last byte of a 16-bit sample belongs to no frame; step over it so the next sample and
        // instrument are read from where they really start.
        if (storedBytes > static_cast<uint32_t>(byteCount))
            ModFileSeek(file, static_cast<int32_t>(storedBytes - static_cast<uint32_t>(byteCount)), FileSeekCurrent);
    }
    // Only the first byteCount bytes are sample data: whatever a hook left behind them must not become frames.
    std::memset(raw + byteCount, 0, rawBytes - static_cast<size_t>(byteCount));

    if (sample->bits == 8) {
        // Widen in place from the end: byte k becomes the high byte of frame k. Frame k overwrites bytes 2k and
        // 2k + 1, which are either past the data or bytes already widened.
        for (uint32_t k = length; k-- > 0;)
            data[k] = static_cast<int16_t>(static_cast<uint16_t>(raw[k] << 8));
        sample->bits = 16;
    } else {
        for (uint32_t k = 0; k < length; ++k)
            data[k] = static_cast<int16_t>(static_cast<uint16_t>(raw[2 * k] | (raw[2 * k + 1] << 8)));
    }

    // File data is delta-coded; what a hook delivers is plain PCM.
    if (song->onSampleLoad == nullptr) {
        uint16_t sum = 0;
        for (uint32_t k = 0; k < length; ++k) {
            sum = static_cast<uint16_t>(sum + static_cast<uint16_t>(data[k]));
            data[k] = static_cast<int16_t>(sum);
        }
    }

    // Guard frames: the mixer interpolates one frame past the loop end, and a ping-pong loop from frame 0
    // read backwards touches frame -1.
    uint32_t end = sample->loopStart + sample->loopLength;
    if (sample->loopMode == LoopPingPong)
        data[end] = data[end - 1];
    else if (sample->loopMode == LoopForward)
        data[end] = data[sample->loopStart];
    data[-1] = data[0];
    return true;
}

static bool ReadInstrument(Song* song, int32_t index, SampleBudget* budget, ModFile* file)
{
    Instrument* instrument = &song->instruments[index];
    int64_t start = ModFileTell(file);
    uint8_t header[InstHeaderBytes];
    ReadBytes(header, InstHeaderBytes, file);
    int64_t headerEnd = start + GetU32(header, InstHeaderSizeOffset);
    uint32_t sampleCount = GetU16(header, InstSampleCountOffset);
    if (sampleCount > static_cast<uint32_t>(MaxSamplesPerInstrument))
        return false;
    instrument->sampleCount = static_cast<int32_t>(sampleCount);
    for (int32_t j = 0; j < MaxSamplesPerInstrument; ++j)
        instrument->samples[j] = j < instrument->sampleCount ? nullptr : &EmptySample;
    if (sampleCount == 0) {
        // Without samples only the first 29 bytes mean anything; the rest of the header is skipped by its size.
        SeekTo(file, headerEnd);
        return true;
    }
    ReadInstrumentHeader(instrument, header);
    SeekTo(file, headerEnd);

    uint32_t storedBytes[MaxSamplesPerInstrument] = {};
    for (int32_t j = 0; j < instrument->sampleCount; ++j) {
        auto* sample = static_cast<Sample*>(ModAllocZeroed(sizeof(Sample)));
        if (sample == nullptr)
            return false;
        instrument->samples[j] = sample;  // owned from here on, so a failure below still releases it
        uint8_t sampleHeader[SampleHeaderBytes];
        ReadBytes(sampleHeader, SampleHeaderBytes, file);
        if (!DecodeSampleHeader(sample, sampleHeader, budget, &storedBytes[j]))
            return false;
    }
    for (int32_t j = 0; j < instrument->sampleCount; ++j) {
        Sample* sample = instrument->samples[j];
        if (sample->length > 0 && !LoadSampleData(song, sample, storedBytes[j], index, j, file))
            return false;
    }
    return true;
}

// ---- Module ------------------------------------------------------------------------------------------------

bool ModReadXm(Song* song, ModFile* file)
{
    if (song == nullptr || file == nullptr)
        return false;

    // The file's size bounds what a sample may claim.
    ModFileSeek(file, 0, FileSeekEnd);
    int64_t fileSize = ModFileTell(file);
    if (fileSize < 0)
        fileSize = 0;

    ModFileSeek(file, 0, FileSeekStart);
    uint8_t header[ModuleHeaderBytes];
    ReadBytes(header, ModuleHeaderBytes, file);
    if (std::memcmp(header, XmSignature, XmSignatureBytes) != 0)
        return false;

    song->onTick = ModUpdateTick;
    song->initialGlobalVolume = 64;

    uint32_t headerSize = GetU32(header, HeaderSizeOffset);
    uint32_t songLength = GetU16(header, SongLengthOffset);
    uint32_t restart = GetU16(header, RestartOffset);
    uint32_t channelCount = GetU16(header, ChannelsOffset);
    uint32_t filePatternCount = GetU16(header, PatternsOffset);
    uint32_t instrumentCount = GetU16(header, InstrumentsOffset);
    auto defaultBpm = static_cast<int16_t>(GetU16(header, BpmOffset));
    if (channelCount > static_cast<uint32_t>(MaxChannels) || songLength == 0 || instrumentCount > MaxInstruments ||
        filePatternCount > MaxFilePatterns || defaultBpm <= 0)
        return false;
    if (songLength > MaxOrders)
        songLength = MaxOrders;
    if (restart >= songLength)
        restart = 0;

    song->orderCount = static_cast<int16_t>(songLength);
    song->restartPosition = static_cast<int16_t>(restart);
    song->channelCount = static_cast<int16_t>(channelCount);
    song->instrumentCount = static_cast<int16_t>(instrumentCount);
    song->flags = static_cast<int16_t>(GetU16(header, FlagsOffset));
    song->defaultSpeed = static_cast<int16_t>(GetU16(header, TempoOffset));
    song->defaultBpm = defaultBpm;
    std::memcpy(song->orders, header + OrdersOffset, sizeof song->orders);

    SeekTo(file, int64_t{HeaderSizeOffset} + headerSize);

    song->usedPatternCount = 0;
    for (int32_t k = 0; k < song->orderCount; ++k)
        if (song->orders[k] >= song->usedPatternCount)
            song->usedPatternCount = song->orders[k] + 1;
    song->patternSlotCount = static_cast<int32_t>(filePatternCount) > song->usedPatternCount
                                 ? static_cast<int32_t>(filePatternCount)
                                 : song->usedPatternCount;
    song->patterns = static_cast<Pattern*>(ModAllocZeroed(static_cast<size_t>(song->patternSlotCount) * sizeof(Pattern)));
    if (song->patterns == nullptr)
        return false;
    if (!ReadPatterns(song, filePatternCount, fileSize, file))
        return false;

    if (instrumentCount > 0) {
        song->instruments = static_cast<Instrument*>(ModAllocZeroed(static_cast<size_t>(instrumentCount) * sizeof(Instrument)));
        if (song->instruments == nullptr)
            return false;
    }
    SampleBudget budget{fileSize, 2 * fileSize};
    for (int32_t i = 0; i < song->instrumentCount; ++i) {
        // Past the end of the file every instrument reads as one without samples: say so without reading.
        if (ModFileTell(file) >= fileSize) {
            for (int32_t rest = i; rest < song->instrumentCount; ++rest)
                for (Sample*& slot : song->instruments[rest].samples)
                    slot = &EmptySample;
            break;
        }
        if (!ReadInstrument(song, i, &budget, file))
            return false;
    }
    return true;
}

Song* ModLoadSong(const char* path, SampleLoadCallback hook)
{
    auto* song = static_cast<Song*>(ModAllocZeroed(sizeof(Song)));
    if (song == nullptr)
        return nullptr;
    ModFile* file = ModFileOpen(path);
    if (file == nullptr) {
        std::free(song);
        return nullptr;
    }
    song->onSampleLoad = hook;
    bool loaded = ModReadXm(song, file);
    ModFileClose(file);
    if (!loaded) {
        ModFreeSong(song);
        return nullptr;
    }
    return song;
}

bool ModFreeSong(Song* song)
{
    if (song == nullptr)
        return false;

    // No block may be mixed from freed memory: wait until none is in progress, then stop the streaming.
    while (BlockInProgress) {
    }
    ModStopSong(song);

    if (song->instruments != nullptr) {
        for (int32_t i = 0; i < song->instrumentCount; ++i) {
            Instrument& instrument = song->instruments[i];
            for (int32_t j = 0; j < instrument.sampleCount && j < MaxSamplesPerInstrument; ++j) {
                Sample* sample = instrument.samples[j];
                if (sample == nullptr || sample == &EmptySample)
                    continue;
                if (sample->data != nullptr)
                    std::free(sample->data - LeadingGuardFrames);
                std::free(sample);
            }
        }
        std::free(song->instruments);
    }
    if (song->patterns != nullptr) {
        for (int32_t p = 0; p < song->patternSlotCount; ++p)
            std::free(song->patterns[p].cells);
        std::free(song->patterns);
    }
    std::free(song);
    return true;
}

bool ModHasXmSignature(const uint8_t* bytes, size_t count)
{
    return bytes != nullptr && count >= XmSignatureBytes && std::memcmp(bytes, XmSignature, XmSignatureBytes) == 0;
}

std::string ModTitle(const uint8_t* bytes, size_t count)
{
    if (!ModHasXmSignature(bytes, count)) {
        return "";
    }
    size_t end = count < size_t{TitleOffset + TitleBytes} ? count : size_t{TitleOffset + TitleBytes};
    std::string title;
    for (size_t i = TitleOffset; i < end && bytes[i] != 0; i++) {
        title += bytes[i] >= 0x20 && bytes[i] < 0x7F ? static_cast<char>(bytes[i]) : '?';
    }
    size_t last = title.find_last_not_of(' ');
    return last == std::string::npos ? "" : title.substr(0, last + 1);
}

const char* ModRefusalReason(const uint8_t* bytes, size_t count)
{
    return ModHasXmSignature(bytes, count) ? ModRefusedReason : ModNotXmReason;
}
