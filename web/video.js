// The greeting as a video file, made in the browser: the file `tarnwick --record` makes (the intro's
// timeline, 800 x 600 at 60 pictures a second, H.264 with its song in MP4), for the studio page to offer as a
// download. An ES module, small: the program, the muxer and the encoders load only when a video is made, in a
// page of their own (record.html, record.js) opened unseen for each video and removed when it is done or
// cancelled, so a cancel leaves nothing behind and the next video starts clean.
//
//   videoSupport() -> Promise<{ok, message}>: whether this browser can make the video; if not, why and what to
//       do, for the reader.
//   recordVideo({greeting, song, seconds, onProgress, signal}) -> Promise<{blob, fileName}>: greeting, the
//       text's UTF-8 bytes (null: the intro's own); song, an XM file's bytes (null: the intro's); seconds, the
//       length (null: the song's first pass and a one-second fade); onProgress(fraction, secondsLeft) now and
//       then (secondsLeft null until it can be told); signal, an AbortSignal that cancels. Rejects with an
//       Error whose message is for the reader and whose `kind` says what failed: 'unsupported' (no WebCodecs,
//       no encoder), 'memory', 'program' (the intro's own message about the greeting or song), 'download'
//       (part of the site did not load), 'encoder'; and with a DOMException named 'AbortError' when cancelled.
//       The result also says which sound codec was used ('aac' or 'mp3') and where the time went (timing:
//       loadMs, drawMs, pictureWaitMs, soundWaitMs, finishMs), for the figures.

const Width = 800;
const Height = 600;
const Fps = 60;
// What the browser's encoder is asked for (record.js makes the same request through mediabunny).
const PictureConfig = {codec: 'avc1.640020', width: Width, height: Height, framerate: Fps, bitrate: 1200000};
const AacConfig = {codec: 'mp4a.40.2', sampleRate: 44100, numberOfChannels: 2, bitrate: 160000};

// How long a loaded record.html may take to say it is ready.
const ReadyWaitMs = 5000;

const Elsewhere = 'Make the video in a current Chrome, Edge or Safari, or in Firefox on a computer; ' +
    'or share the link instead.';

function failure(kind, message) {
    const error = new Error(message);
    error.kind = kind;
    return error;
}

function cancelled() {
    return new DOMException('The video was cancelled.', 'AbortError');
}

// The message for the reader of what record.js reported.
function readerError(kind, detail) {
    switch (kind) {
    case 'memory':
        return failure(kind, 'There is not enough memory on this device to make the video. Close other tabs or ' +
                       'apps and try again, or choose a shorter video.');
    case 'program':
        return failure(kind, 'The video could not be made: ' + detail + '.');
    case 'download':
        return failure(kind, 'Part of the page did not download (' + detail + '). Check the connection, then ' +
                       'try again.');
    default:
        return failure('encoder', "The browser's video encoder stopped (" + detail + '). Try again; ' + Elsewhere);
    }
}

export async function videoSupport() {
    if (typeof VideoEncoder !== 'function' || typeof VideoFrame !== 'function') {
        return {ok: false, message: 'This browser cannot make videos (it has no WebCodecs). ' + Elsewhere};
    }
    try {
        if (!(await VideoEncoder.isConfigSupported(PictureConfig)).supported) {
            return {ok: false, message: 'This browser has no H.264 video encoder. ' + Elsewhere};
        }
    } catch (e) {
        return {ok: false, message: 'This browser has no H.264 video encoder. ' + Elsewhere};
    }
    // The sound: AAC where the browser encodes it, else MP3 in WebAssembly on a worker.
    let aac = false;
    try {
        aac = typeof AudioEncoder === 'function' && (await AudioEncoder.isConfigSupported(AacConfig)).supported;
    } catch (e) {
        aac = false;
    }
    if (!aac && (typeof WebAssembly !== 'object' || typeof Worker !== 'function')) {
        return {ok: false, message: "This browser cannot encode the video's sound. " + Elsewhere};
    }
    if (document.createElement('canvas').getContext('webgl') === null) {
        return {ok: false, message: "This browser cannot draw the video's pictures (it offers no WebGL). " +
                Elsewhere};
    }
    return {ok: true, message: ''};
}

export function recordVideo({greeting = null, song = null, seconds = null, onProgress = null, signal = null} = {}) {
    return new Promise((resolve, reject) => {
        if (signal && signal.aborted) {
            reject(cancelled());
            return;
        }
        const frame = document.createElement('iframe');
        const channel = new MessageChannel();
        let ready = false;
        let started = 0;
        let settled = false;

        const finish = () => {
            settled = true;
            window.removeEventListener('message', onReady);
            if (signal) {
                signal.removeEventListener('abort', onAbort);
            }
            channel.port1.onmessage = null;
            channel.port1.close();
            // Removing the page ends everything of the video: the program, its memory, the encoders and the
            // MP3 encoder's worker.
            frame.remove();
        };
        const fail = error => {
            if (!settled) {
                finish();
                reject(error);
            }
        };
        const onAbort = () => fail(cancelled());
        const onReady = event => {
            if (event.source !== frame.contentWindow || !event.data || event.data.type !== 'tarnwick-record-ready') {
                return;
            }
            ready = true;
            started = performance.now();
            frame.contentWindow.postMessage({type: 'tarnwick-record', greeting, song, seconds}, location.origin,
                                            [channel.port2]);
        };
        channel.port1.onmessage = event => {
            const data = event.data;
            if (settled) {
                return;
            }
            if (data.progress) {
                const [picture, pictures] = data.progress;
                const elapsed = (performance.now() - started) / 1000;
                // Told once a few seconds of pictures show the pace.
                const left = picture >= 3 * Fps ? elapsed * (pictures - picture) / picture : null;
                if (onProgress) {
                    onProgress(picture / pictures, left);
                }
            } else if (data.done) {
                finish();
                resolve({blob: data.done.blob, fileName: data.done.fileName, soundCodec: data.done.soundCodec,
                         timing: data.done.timing});
            } else if (data.error) {
                fail(readerError(data.error.kind, data.error.detail));
            }
        };
        if (signal) {
            signal.addEventListener('abort', onAbort);
        }
        window.addEventListener('message', onReady);
        frame.addEventListener('load', () => {
            // A page that has loaded says it is ready at once; one that does not lacks its script.
            setTimeout(() => {
                if (!ready) {
                    fail(readerError('download', 'the video maker'));
                }
            }, ReadyWaitMs);
        });
        frame.title = 'Making the video';
        frame.setAttribute('aria-hidden', 'true');
        frame.tabIndex = -1;
        frame.style.cssText = 'position: fixed; left: 0; top: 0; width: 1px; height: 1px; border: 0; ' +
            'opacity: 0; pointer-events: none;';
        frame.src = new URL('record.html', import.meta.url).href;
        document.body.appendChild(frame);
    });
}
