// The greeting's page: checks that this browser and this server can run it, downloads the program and its
// data, opens on a "click to open the greeting" screen (the browser plays sound only after a click), starts
// the intro, and ends on a quiet screen with a way to start again. Every failure is a message on the page,
// and `tarnwick.error` says which.
//
// window.tarnwick = { frames, audio: { state, playedBytes, longestPollGapMs }, error, exitCode } is kept
// current for tests and the curious. With ?test in the address the worklet keeps the first 10 s it played
// (tarnwickPage.captureBase64()).
//
// Your own greeting: #greeting= and percent-encoded UTF-8 in the address's fragment (never sent to a server).
// Its bytes go to the program as the intro's own --greeting option would give them: written to a file the
// program reads with that option, so the conversion, its limits and its messages are the intro's.
'use strict';

(function() {
    const OutputRate = 44100;
    const CaptureSeconds = 10;

    const tarnwick = {
        frames: 0,
        audio: {state: 'none', playedBytes: 0, longestPollGapMs: 0},
        error: null,
        exitCode: null
    };
    window.tarnwick = tarnwick;

    const testMode = new URLSearchParams(location.search).has('test');
    const element = id => document.getElementById(id);
    let lastPrinted = '';
    let audioWords = null;   // the shared control block's words while a ring plays
    let capture = null;      // the worklet's copy of its first seconds (test mode)

    function show(id) {
        for (const screen of ['loading', 'opening', 'ending', 'failure']) {
            element(screen).hidden = screen !== id;
        }
    }

    function fail(kind, text) {
        if (tarnwick.error === null) {
            tarnwick.error = kind;
        }
        console.error('tarnwick: ' + kind + ': ' + text);
        element('failure-text').textContent = text;
        element('stage').hidden = true;
        show('failure');
    }

    // ---- What the web platform (platform/web/web_library.js) asks of the page ----------------------------
    const page = {
        audioContext: null,
        workletReady: null,
        captureBytes: testMode ? CaptureSeconds * OutputRate * 4 : 0,

        sceneShown() {
            show(null);
        },

        messageBox(caption, text, yesNo) {
            const dialog = element('dialog');
            element('dialog-caption').textContent = caption;
            element('dialog-text').textContent = text;
            element('dialog-ok').hidden = yesNo;
            element('dialog-yes').hidden = !yesNo;
            element('dialog-no').hidden = !yesNo;
            return new Promise(resolve => {
                const answer = value => {
                    dialog.onclose = null;
                    dialog.oncancel = null;
                    for (const id of ['dialog-ok', 'dialog-yes', 'dialog-no']) {
                        element(id).onclick = null;
                    }
                    if (dialog.open) {
                        dialog.close();
                    }
                    resolve(value);
                };
                // MessageBoxA's answers: IDOK 1, IDYES 6, IDNO 7. Esc gives the answer that does not go on.
                element('dialog-ok').onclick = () => answer(1);
                element('dialog-yes').onclick = () => answer(6);
                element('dialog-no').onclick = () => answer(7);
                dialog.oncancel = event => {
                    event.preventDefault();
                    answer(yesNo ? 7 : 1);
                };
                dialog.showModal();
                element(yesNo ? 'dialog-yes' : 'dialog-ok').focus();
            });
        },

        audioStarted(shared) {
            audioWords = {
                played: new BigInt64Array(Module.wasmMemory.buffer, shared, 1),
                words: new Int32Array(Module.wasmMemory.buffer, shared, 5)
            };
        },

        audioStopped() {
            updateAudio();
            audioWords = null;
        },

        audioMessage(data) {
            if (data && data.capture) {
                capture = new Uint8Array(data.capture);
            }
        },

        // Bytes the worklet has played out of the ring so far, read now (tarnwick.audio is kept every 100 ms).
        playedBytesNow() {
            return audioWords !== null ? Number(Atomics.load(audioWords.played, 0)) : tarnwick.audio.playedBytes;
        },

        // The worklet's copy of the first seconds it played, base64 (test mode); null until complete.
        captureBase64() {
            if (capture === null) {
                return null;
            }
            let text = '';
            for (let i = 0; i < capture.length; i += 32768) {
                text += String.fromCharCode.apply(null, capture.subarray(i, i + 32768));
            }
            return btoa(text);
        }
    };
    window.tarnwickPage = page;

    function updateAudio() {
        if (page.audioContext !== null) {
            tarnwick.audio.state = page.audioContext.state;
        }
        if (audioWords !== null) {
            tarnwick.audio.playedBytes = Number(Atomics.load(audioWords.played, 0));
            tarnwick.audio.longestPollGapMs = Atomics.load(audioWords.words, 4);
        }
    }

    // ---- Start-up --------------------------------------------------------------------------------------------

    // The file the fragment's greeting is handed over in; the intro's messages about a greeting name it, so
    // it is named after the fragment.
    const GreetingPath = '#greeting';

    // The bytes of the fragment's #greeting=, percent-decoded (any byte, valid UTF-8 or not: the program's
    // conversion judges them); null without one.
    function greetingBytes() {
        const prefix = '#greeting=';
        if (!location.hash.startsWith(prefix)) {
            return null;
        }
        const text = location.hash.substring(prefix.length);
        const bytes = [];
        const encoder = new TextEncoder();
        for (let i = 0; i < text.length; i++) {
            const hex = text.substring(i + 1, i + 3);
            if (text[i] === '%' && /^[0-9A-Fa-f]{2}$/.test(hex)) {
                bytes.push(parseInt(hex, 16));
                i += 2;
            } else {
                const code = text.codePointAt(i);
                const character = String.fromCodePoint(code);
                bytes.push(...encoder.encode(character));
                i += character.length - 1;
            }
        }
        return new Uint8Array(bytes);
    }

    // The program's command line: --greeting with the fragment's greeting written to a file, or nothing.
    function programArguments() {
        const bytes = greetingBytes();
        if (bytes === null) {
            return [];
        }
        Module.FS.writeFile(GreetingPath, bytes);
        return ['--greeting', GreetingPath];
    }

    // Runs main(argc, argv) to its end, through every wait for the browser; resolves with its exit code.
    function runMain(args) {
        const words = ['tarnwick'].concat(args);
        const argv = Module._malloc(4 * (words.length + 1));
        words.forEach((word, i) => {
            const bytes = Module.lengthBytesUTF8(word) + 1;
            const text = Module._malloc(bytes);
            Module.stringToUTF8(word, text, bytes);
            Module.HEAP32[(argv >> 2) + i] = text;
        });
        Module.HEAP32[(argv >> 2) + words.length] = 0;
        return Module.ccall('main', 'number', ['number', 'number'], [words.length, argv], {async: true});
    }

    // The data pack (web/pack_data.py): a 32-bit little-endian length, a JSON list of [path, size], then the
    // files' bytes one after the other.
    function unpackData(buffer) {
        const view = new DataView(buffer);
        const indexLength = view.getUint32(0, true);
        const index = JSON.parse(new TextDecoder().decode(new Uint8Array(buffer, 4, indexLength)));
        let offset = 4 + indexLength;
        const files = [];
        for (const [path, size] of index) {
            if (typeof path !== 'string' || !Number.isInteger(size) || size < 0 || offset + size > buffer.byteLength) {
                throw new Error('the data pack is damaged');
            }
            files.push([path, new Uint8Array(buffer, offset, size)]);
            offset += size;
        }
        return files;
    }

    function loadProgram(files) {
        window.Module = {
            noInitialRun: true,
            print(line) {
                console.log(line);
                lastPrinted = line;
            },
            printErr(line) {
                console.warn(line);
            },
            preRun: [() => {
                for (const [path, bytes] of files) {
                    const folder = path.substring(0, path.lastIndexOf('/'));
                    if (folder !== '') {
                        Module.FS.mkdirTree(folder);
                    }
                    Module.FS.writeFile(path, bytes);
                }
            }],
            onRuntimeInitialized() {
                show('opening');
            },
            onAbort(what) {
                fail('program', 'The program stopped: ' + what);
            }
        };
        const script = document.createElement('script');
        script.src = 'tarnwick.js';
        script.onerror = () => fail('program', 'The program (tarnwick.js) could not be downloaded.');
        document.body.appendChild(script);
    }

    async function open() {
        element('opening').onclick = null;
        try {
            page.audioContext = new AudioContext({sampleRate: OutputRate, latencyHint: 'playback'});
        } catch (e) {
            fail('audio', 'This browser cannot play sound at 44,100 Hz (' + e.message + ').');
            return;
        }
        if (page.audioContext.sampleRate !== OutputRate) {
            fail('audio', 'This browser plays sound at ' + page.audioContext.sampleRate + ' Hz, not 44,100 Hz.');
            return;
        }
        page.audioContext.onstatechange = updateAudio;
        page.workletReady = page.audioContext.audioWorklet.addModule('worklet.js');
        // (Closing the context at an early end also ends a load still running: that is no failure.)
        page.workletReady.catch(e => {
            if (tarnwick.exitCode === null) {
                fail('audioworklet', 'The audio worklet could not be loaded (' + e + ').');
            }
        });
        show(null);
        const code = await runMain(programArguments());
        ended(code);
    }

    function ended(code) {
        tarnwick.exitCode = code;
        element('stage').hidden = true;
        if (page.audioContext !== null) {
            page.audioContext.close().then(updateAudio);
        }
        if (tarnwick.error !== null) {
            return;
        }
        element('ending-text').textContent = code === 0 ? 'The greeting has ended.'
            : 'The greeting stopped' + (lastPrinted !== '' ? ': ' + lastPrinted : '.');
        show('ending');
    }

    async function start() {
        setInterval(updateAudio, 100);
        element('again').onclick = () => location.reload();
        if (location.protocol === 'file:') {
            fail('file', 'This greeting cannot run from a file: serve the folder (web/serve.sh) and open the address it prints.');
            return;
        }
        if (!window.crossOriginIsolated) {
            // A host that cannot send the isolation headers gets them from the page's own service worker:
            // installed once, then the page reloads through it.
            if ('serviceWorker' in navigator && !sessionStorage.getItem('tarnwick-isolating')) {
                try {
                    await navigator.serviceWorker.register('sw.js');
                    await navigator.serviceWorker.ready;
                    sessionStorage.setItem('tarnwick-isolating', '1');
                    location.reload();
                    return;
                } catch (e) {
                    console.warn('tarnwick: no service worker: ' + e);
                }
            }
            sessionStorage.removeItem('tarnwick-isolating');
            fail('isolation', 'This page is not cross-origin isolated, so the sound thread cannot share the ' +
                 "program's memory. The server must send Cross-Origin-Opener-Policy: same-origin and " +
                 'Cross-Origin-Embedder-Policy: require-corp with every file.');
            return;
        }
        sessionStorage.removeItem('tarnwick-isolating');
        if (document.createElement('canvas').getContext('webgl') === null) {
            fail('webgl', 'This browser offers no WebGL, so the scene cannot be drawn.');
            return;
        }
        if (typeof AudioWorkletNode !== 'function') {
            fail('audioworklet', 'This browser offers no AudioWorklet, so the song cannot be played.');
            return;
        }
        let files;
        try {
            const response = await fetch('data.pack');
            if (!response.ok) {
                throw new Error('HTTP ' + response.status);
            }
            files = unpackData(await response.arrayBuffer());
        } catch (e) {
            fail('data', "The greeting's pictures and song (data.pack) could not be downloaded: " + e.message + '.');
            return;
        }
        element('opening').onclick = open;
        loadProgram(files);
    }

    start();
})();
