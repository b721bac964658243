// One video of the greeting, made in a page of its own (record.html) that web/video.js opens unseen for each
// video and removes when it is done or cancelled, so nothing of a video is left behind and the next starts
// clean. It loads the program build the greeting's page would (with threads where the page is cross-origin
// isolated), writes the intro's data, the greeting and the song into its files, and calls the recording's
// steps (tw_record_*, shell.h): the intro's own timeline, one picture drawn off screen per animation step at
// 60 a second, and the song as xmrender renders it. The pictures go to the browser's H.264 encoder
// (WebCodecs), the sound to its AAC encoder where it has one, else to MP3 (LAME in WebAssembly, the codec the
// platforms' players take in MP4 after AAC; see README.md); mediabunny puts both into an MP4 with its index
// at the front. As fast as the browser draws and encodes: the encoder's queue holds the pictures back, so
// memory stays bounded by it.
//
// With web/video.js: the frame says {type: 'tarnwick-record-ready'} to its parent once loaded; the parent sends
// {type: 'tarnwick-record', greeting, song, seconds} with a MessagePort, and gets on it {progress: [picture,
// pictures]} now and then, then {done: {blob, fileName, soundCodec, timing}} or {error: {kind, detail}}.

// The intro's picture and the recording's rate: --record's defaults.
const Width = 800;
const Height = 600;
const Fps = 60;
const SoundRate = 44100;
// H.264 at a rate that keeps the scroller's glyph edges and the tree's lines sharp at 800 x 600 (the
// browsers' encoders take a rate, not a quality): at 1.2 Mbit/s every picture of a 10 s video is as close to
// --record's (x264 at CRF 23, about 0.75 Mbit/s) as at twice the rate, 37 dB at the worst; a key picture
// every two seconds.
const VideoBitrate = 1200000;
const KeyFrameSeconds = 2;
const AacBitrate = 160000;
const Mp3Bitrate = 192000;
// Sound goes to the encoder half a second at a time (a picture's 735 frames each would cost a message to the
// MP3 encoder's worker apiece).
const SoundChunkFrames = SoundRate / 2;
// LAME's delay before the first sample (its encoder delay of 576 and a decoder's 529): the sound is put that
// much earlier, and the file's edit list leaves it out, so sound and pictures start together.
const Mp3DelayFrames = 1105;
const ProgressEvery = 15;
// The files the greeting and the song are handed over in. The program's messages name the greeting's file.
const GreetingPath = 'you typed';
const SongPath = 'song.xm';

class RecordError extends Error {
    constructor(kind, detail) {
        super(detail);
        this.kind = kind;
    }
}

// Loads the program build the greeting's page would load (the frame shares its parent's isolation), with the
// intro's data in its files.
async function loadProgram() {
    const site = window.tarnwickSite;
    let files;
    try {
        files = await site.loadDataPack();
    } catch (e) {
        throw new RecordError('download', "the greeting's pictures and song: " + e.message);
    }
    return new Promise((resolve, reject) => {
        site.loadProgram(window.crossOriginIsolated ? 'threads' : 'single', {
            noInitialRun: true,
            print: line => console.log(line),
            printErr: line => console.warn(line),
            preRun: [() => site.writeFiles(window.Module.FS, files)],
            onRuntimeInitialized: () => resolve(window.Module),
            onAbort: what => reject(stopped(what))
        }, () => reject(new RecordError('download', 'the program')));
    });
}

// What an error of the program, the browser or an encoder was: memory the device has no more of, or another.
function stopped(error) {
    const text = String(error && error.message !== undefined ? error.message : error);
    if (error instanceof RecordError) {
        return error;
    }
    if (error instanceof RangeError || /OOM|out of memory|enlarge memory|allocation failed|QuotaExceeded/i.test(text) ||
            (error && error.name === 'QuotaExceededError')) {
        return new RecordError('memory', text);
    }
    return new RecordError('encoder', text);
}

// The muxer (and the encoders' front), loaded as the video starts: a part that does not download is said so.
async function loadMuxer() {
    try {
        return await import('mediabunny');
    } catch (e) {
        console.warn('tarnwick: the video muxer: ' + e.message);
        throw new RecordError('download', 'the video muxer');
    }
}

// AAC where the browser encodes it, else MP3 through the encoder that comes with the site.
async function soundCodec(muxer) {
    if (await muxer.canEncodeAudio('aac', {numberOfChannels: 2, sampleRate: SoundRate, bitrate: AacBitrate})) {
        return {codec: 'aac', bitrate: AacBitrate, delay: 0};
    }
    try {
        const {registerMp3Encoder} = await import('./mediabunny-mp3-encoder.js');
        registerMp3Encoder();
    } catch (e) {
        console.warn('tarnwick: the MP3 encoder: ' + e.message);
        throw new RecordError('download', 'the MP3 encoder');
    }
    return {codec: 'mp3', bitrate: Mp3Bitrate, delay: Mp3DelayFrames};
}

async function record(request, report) {
    const began = performance.now();
    const muxer = await loadMuxer();
    const {AudioSample, AudioSampleSource, BufferTarget, Mp4OutputFormat, Output, VideoSample,
           VideoSampleSource} = muxer;
    const program = await loadProgram();
    const greeting = request.greeting instanceof Uint8Array ? request.greeting : null;
    const song = request.song instanceof Uint8Array ? request.song : null;
    const seconds = typeof request.seconds === 'number' && request.seconds > 0 ? request.seconds : 0;
    if (greeting !== null) {
        program.FS.writeFile(GreetingPath, greeting);
    }
    if (song !== null) {
        program.FS.writeFile(SongPath, song);
    }
    const opened = program.ccall('tw_record_open', 'number',
                                 ['string', 'string', 'number', 'number', 'number', 'number'],
                                 [greeting !== null ? GreetingPath : '', song !== null ? SongPath : '', Width,
                                  Height, Fps, seconds]);
    if (!opened) {
        // The program's own words: about the greeting, the song, or the memory it has (a fixed 32 MB).
        const error = program.ccall('tw_record_error', 'string', [], []);
        throw new RecordError(/^not enough memory/.test(error) ? 'memory' : 'program', error);
    }

    const sound = await soundCodec(muxer);
    const output = new Output({format: new Mp4OutputFormat({fastStart: 'in-memory'}), target: new BufferTarget()});
    const pictureSource = new VideoSampleSource({codec: 'avc', bitrate: VideoBitrate,
                                                 keyFrameInterval: KeyFrameSeconds, latencyMode: 'quality'});
    const soundSource = new AudioSampleSource({codec: sound.codec, bitrate: sound.bitrate});
    output.addVideoTrack(pictureSource, {frameRate: Fps});
    output.addAudioTrack(soundSource);
    await output.start();

    const pictures = program._tw_record_pictures();
    const pictureBytes = Width * Height * 4;
    const chunk = new Int16Array(2 * SoundChunkFrames);
    let chunkFrames = 0;
    let soundAt = -sound.delay;   // the first sound frame's place, in frames
    const sendSound = async () => {
        if (chunkFrames > 0) {
            const sample = new AudioSample({data: chunk.slice(0, 2 * chunkFrames), format: 's16',
                                            numberOfChannels: 2, sampleRate: SoundRate,
                                            timestamp: soundAt / SoundRate});
            soundAt += chunkFrames;
            chunkFrames = 0;
            try {
                await soundSource.add(sample);
            } finally {
                sample.close();
            }
        }
    };
    // Where the time goes, for the figures: the program drawing and reading back, and the waits for the
    // encoders' queues (milliseconds).
    const timing = {loadMs: performance.now() - began, drawMs: 0, pictureWaitMs: 0, soundWaitMs: 0, finishMs: 0};
    for (let n = 0; n < pictures; n++) {
        let now = performance.now();
        if (!program._tw_record_step()) {
            throw new RecordError('program', program.ccall('tw_record_error', 'string', [], []) ||
                                  'the recording ended early');
        }
        const at = program._tw_record_picture();
        const picture = new VideoSample(program.HEAPU8.subarray(at, at + pictureBytes),
                                        {format: 'RGBX', codedWidth: Width, codedHeight: Height,
                                         timestamp: n / Fps, duration: 1 / Fps});
        timing.drawMs += performance.now() - now;
        now = performance.now();
        try {
            await pictureSource.add(picture);
        } finally {
            picture.close();
        }
        timing.pictureWaitMs += performance.now() - now;
        now = performance.now();
        let frames = program._tw_record_sound_frames();
        let from = program._tw_record_sound() >> 1;
        while (frames > 0) {
            const take = Math.min(frames, SoundChunkFrames - chunkFrames);
            chunk.set(program.HEAP16.subarray(from, from + 2 * take), 2 * chunkFrames);
            chunkFrames += take;
            from += 2 * take;
            frames -= take;
            if (chunkFrames === SoundChunkFrames) {
                await sendSound();
            }
        }
        timing.soundWaitMs += performance.now() - now;
        if (n % ProgressEvery === 0 || n + 1 === pictures) {
            report(n + 1, pictures);
        }
    }
    const finishing = performance.now();
    await sendSound();
    program._tw_record_close();
    pictureSource.close();
    soundSource.close();
    await output.finalize();
    timing.finishMs = performance.now() - finishing;
    return {blob: new Blob([output.target.buffer], {type: 'video/mp4'}), fileName: 'greeting.mp4',
            soundCodec: sound.codec, timing};
}

let taken = false;
window.addEventListener('message', event => {
    const data = event.data;
    if (taken || event.source !== window.parent || event.origin !== location.origin || !data ||
            data.type !== 'tarnwick-record' || event.ports.length !== 1) {
        return;
    }
    taken = true;
    const port = event.ports[0];
    const report = (picture, pictures) => port.postMessage({progress: [picture, pictures]});
    record(data, report).then(
        done => port.postMessage({done: done}),
        error => {
            const failure = stopped(error);
            console.error('tarnwick: the video: ' + failure.kind + ': ' + failure.message);
            port.postMessage({error: {kind: failure.kind, detail: failure.message}});
        });
});
window.parent.postMessage({type: 'tarnwick-record-ready'}, location.origin);
