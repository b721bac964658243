// The greeting's page: checks that this browser can run it, downloads the program and its data, opens on a
// "tap (or click) to open the greeting" screen (a browser plays sound only after a gesture), starts the
// intro, and ends on a quiet screen with a way to start again. A failure is a message for the person who
// opened the link, saying what does not work in this browser and what to do; `tarnwick.error` says which.
//
// Two builds of the program: with shared memory and a streaming thread where the page is cross-origin
// isolated (on a host that sends the two headers, or through the page's own service worker), and without
// threads everywhere else (in-app browsers among them), its streaming work on the main thread.
//
// window.tarnwick = { build, frames, audio: { state, rate, playedBytes, starved, leastAheadMs (the least sound
// ready ahead of the speaker since the first second), longestPollGapMs (between two looks of the streaming
// at the device), longestReportGapMs (between two reports of the worklet taken in by the page),
// mainThreadMixMs (the page's thread mixing, without threads) }, timing: { openingMs, tapMs, firstFrameMs }
// (performance.now() when the opening screen showed, the reader tapped and the first frame was shown), error,
// exitCode } is kept current for tests and the curious. With ?test in the address
// the worklet keeps the first 10 s it played (?test&capture=N for N seconds; tarnwickPage.captureBase64()),
// and ?build=single picks the build without threads on an isolated page too.
//
// Your own greeting: #greeting= and percent-encoded UTF-8 in the address's fragment (never sent to a server).
// Its bytes go to the program as the intro's own --greeting option would give them: written to a file the
// program reads with that option, so the conversion, its limits and its messages are the intro's.
//
// The studio's preview (index.html?preview in an iframe of make.html): no opening screen; the greeting's and
// the song's bytes come from the studio (window.parent.tarnwickStudio), the intro starts at once in a window
// (--window) and plays through the studio's audio context, made in the reader's tap there, into an output
// the studio can silence. The context is the studio's: the preview never closes it. Boxes are answered at
// once (the studio shows the greeting's messages itself) and their text kept in tarnwick.messages.
'use strict';

(function() {
    const OutputRate = tarnwickSite.OutputRate;
    const ControlsShownMs = 3000;
    const TurnHintShownMs = 4000;

    const tarnwick = {
        build: null,
        frames: 0,
        audio: {state: 'none', rate: 0, playedBytes: 0, starved: 0, leastAheadMs: Infinity, longestPollGapMs: 0,
                longestReportGapMs: 0, mainThreadMixMs: 0},
        timing: {openingMs: null, tapMs: null, firstFrameMs: null},
        error: null,
        exitCode: null,
        messages: []
    };
    window.tarnwick = tarnwick;

    const query = new URLSearchParams(location.search);
    const studio = query.has('preview') && window.parent !== window ? window.parent.tarnwickStudio || null : null;
    const testMode = query.has('test');
    const captureSeconds = Number(query.get('capture')) > 0 ? Number(query.get('capture')) : 10;
    const element = id => document.getElementById(id);
    // A touch screen without a mouse: the opening says "tap" and no keys.
    const touchScreen = matchMedia('(pointer: coarse)').matches ||
        (navigator.maxTouchPoints > 0 && !matchMedia('(any-pointer: fine)').matches);
    let lastPrinted = '';
    let audioWords = null;   // the control words while a ring plays (the played count: with shared memory)
    let capture = null;      // the worklet's copy of its first seconds (test mode)
    let lastReport = 0;      // when the worklet's latest report came in (performance.now())
    let running = false;     // the intro runs (between the tap and its end)

    function show(id) {
        for (const screen of ['loading', 'opening', 'ending', 'failure']) {
            element(screen).hidden = screen !== id;
        }
    }

    // What this browser cannot do, and what the reader can do about it: open the link elsewhere (a button
    // copies it), or try again.
    const OpenElsewhere = touchScreen
        ? "Open the link in your phone's own browser (Safari or Chrome), or on a computer."
        : 'Open the link in another browser (Chrome, Firefox, Safari or Edge), or on another device.';
    function fail(kind, text, advice, offer) {
        if (tarnwick.error === null) {
            tarnwick.error = kind;
        }
        console.error('tarnwick: ' + kind + ': ' + text);
        running = false;
        element('failure-text').textContent = text;
        element('failure-advice').textContent = advice || '';
        element('copy-link').hidden = offer !== 'copy';
        element('retry').hidden = offer !== 'retry';
        element('stage').hidden = true;
        element('controls').hidden = true;
        show('failure');
    }

    function copyLink() {
        tarnwickSite.copyLink(location.href, element('copy-text'), element('copy-done'),
                              () => { element('copy-area').hidden = false; });
    }

    // ---- What the web platform (platform/web/web_library.js) asks of the page ----------------------------
    const page = {
        audioContext: null,
        audioDestination: null,   // where the worklet's node goes: the context's destination unless set
        workletReady: null,
        pressKey: null,   // set by the platform: a key pressed and released

        captureBytes() {
            if (!testMode || page.audioContext === null) {
                return 0;
            }
            return Math.round(captureSeconds * page.audioContext.sampleRate) * 4;
        },

        sceneShown() {
            show(null);
        },

        sceneLaidOut() {
            updateTurnHint();
        },

        messageBox(caption, text, yesNo) {
            if (studio !== null) {
                // OK, or Yes: go on (a refused fullscreen goes on in the window).
                tarnwick.messages.push(caption + ': ' + text);
                lastPrinted = text;
                return Promise.resolve(yesNo ? 6 : 1);
            }
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

        audioStarted(shared, sharedMemory) {
            const memory = Module.HEAP32.buffer;
            audioWords = {
                played: sharedMemory ? new BigInt64Array(memory, shared, 1) : null,
                words: new Int32Array(memory, shared, 10)
            };
        },

        audioStopped() {
            updateAudio();
            audioWords = null;
        },

        audioMessage(data) {
            if (data.played !== undefined) {
                // The worklet reports every few milliseconds: a longer wait between two reports is the time
                // the page's thread was held up (and, without threads, could not mix).
                const now = performance.now();
                if (lastReport !== 0) {
                    tarnwick.audio.longestReportGapMs = Math.max(tarnwick.audio.longestReportGapMs,
                                                                 Math.round(now - lastReport));
                }
                lastReport = now;
                tarnwick.audio.playedBytes = data.played;
                tarnwick.audio.starved = data.starved;
                // Counted from the first second on: the ring starts full, and the first poll comes with it.
                if (data.played >= OutputRate * 4) {
                    tarnwick.audio.leastAheadMs = Math.min(tarnwick.audio.leastAheadMs,
                                                           Math.round(data.ahead * 1000 / (OutputRate * 4)));
                }
            }
            if (data.capture) {
                capture = new Uint8Array(data.capture);
            }
        },

        mainThreadMixed(milliseconds) {
            tarnwick.audio.mainThreadMixMs += milliseconds;
        },

        // Bytes the worklet has played out of the ring so far: read now with shared memory, else as last
        // reported (every few milliseconds).
        playedBytesNow() {
            return audioWords !== null && audioWords.played !== null ? Number(Atomics.load(audioWords.played, 0))
                : tarnwick.audio.playedBytes;
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
            if (audioWords.played !== null) {
                tarnwick.audio.playedBytes = Number(Atomics.load(audioWords.played, 0));
            }
            tarnwick.audio.longestPollGapMs = Atomics.load(audioWords.words, 8);
        }
    }

    // ---- Touch: the controls a tap shows, and the hint to turn a phone held upright -------------------------

    let controlsTimer = 0;
    function showControls() {
        if (!running) {
            return;
        }
        element('controls').hidden = false;
        clearTimeout(controlsTimer);
        controlsTimer = setTimeout(() => { element('controls').hidden = true; }, ControlsShownMs);
    }

    function pressFromControl(key) {
        return event => {
            event.stopPropagation();
            showControls();
            if (page.pressKey !== null) {
                page.pressKey(key);
            }
        };
    }

    let turnHintTimer = 0;
    let portraitSeen = false;
    function updateTurnHint() {
        const portrait = running && touchScreen && window.innerHeight > window.innerWidth;
        if (portrait && !portraitSeen) {
            element('turn-hint').hidden = false;
            clearTimeout(turnHintTimer);
            turnHintTimer = setTimeout(() => { element('turn-hint').hidden = true; }, TurnHintShownMs);
        } else if (!portrait) {
            element('turn-hint').hidden = true;
        }
        portraitSeen = portrait;
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
        if (studio !== null) {
            return previewArguments();
        }
        const bytes = greetingBytes();
        if (bytes === null) {
            return [];
        }
        Module.FS.writeFile(GreetingPath, bytes);
        return ['--greeting', GreetingPath];
    }

    // The preview's command line: in a window, with the studio's greeting and song (the intro's own song
    // when the studio has none).
    const SongPath = '#song';
    function previewArguments() {
        Module.FS.writeFile(GreetingPath, studio.previewGreeting());
        const args = ['--window', '--greeting', GreetingPath];
        const song = studio.previewSong();
        if (song !== null) {
            Module.FS.writeFile(SongPath, song);
            args.push('--song', SongPath);
        }
        return args;
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

    function loadProgram(files, build) {
        tarnwickSite.loadProgram(build, {
            noInitialRun: true,
            print(line) {
                console.log(line);
                lastPrinted = line;
            },
            printErr(line) {
                console.warn(line);
            },
            preRun: [() => tarnwickSite.writeFiles(Module.FS, files)],
            onRuntimeInitialized() {
                tarnwick.timing.openingMs = performance.now();
                if (studio !== null) {
                    open();
                } else {
                    show('opening');
                }
            },
            onAbort(what) {
                fail('program', 'The greeting stopped with an error (' + what + ').', 'Load the page again.', 'retry');
            }
        }, () => fail('program', 'The greeting could not be downloaded.', 'Check the connection, then try again.',
                      'retry'));
    }

    async function open() {
        tarnwick.timing.tapMs = performance.now();
        element('opening').onclick = null;
        element('opening').onkeydown = null;
        try {
            if (studio !== null) {
                page.audioContext = studio.audioContext;
                page.audioDestination = studio.previewOutput();
            } else {
                page.audioContext = tarnwickSite.makeAudioContext();
            }
        } catch (e) {
            fail('audio', 'This browser cannot play sound here (' + e.message + ').', OpenElsewhere, 'copy');
            return;
        }
        tarnwick.audio.rate = page.audioContext.sampleRate;
        page.audioContext.onstatechange = updateAudio;
        page.workletReady = studio !== null ? studio.workletReady
            : page.audioContext.audioWorklet.addModule('worklet.js');
        // (Closing the context at an early end also ends a load still running: that is no failure.)
        page.workletReady.catch(e => {
            if (tarnwick.exitCode === null) {
                fail('audioworklet', "The greeting's song could not be started (" + e + ').', OpenElsewhere, 'copy');
            }
        });
        show(null);
        running = true;
        const code = await runMain(programArguments());
        ended(code);
    }

    function ended(code) {
        tarnwick.exitCode = code;
        running = false;
        element('stage').hidden = true;
        element('controls').hidden = true;
        element('turn-hint').hidden = true;
        if (page.audioContext !== null && studio === null) {
            page.audioContext.close().then(updateAudio);
        }
        if (tarnwick.error !== null) {
            return;
        }
        element('ending-text').textContent = code === 0 ? 'The greeting has ended.'
            : 'The greeting stopped' + (lastPrinted !== '' ? ': ' + lastPrinted : '.');
        show('ending');
    }

    function offerOpening() {
        if (touchScreen) {
            element('opening-title').textContent = 'Tap to open the greeting';
            element('opening-keys').textContent = 'with sound';
        }
        element('opening').onclick = open;
        element('opening').onkeydown = event => {
            if (event.key === 'Enter' || event.key === ' ') {
                event.preventDefault();
                open();
            }
        };
    }

    async function start() {
        setInterval(updateAudio, 100);
        element('again').onclick = () => location.reload();
        element('retry').onclick = () => location.reload();
        element('copy-link').onclick = copyLink;
        // The studio's link on the opening screen goes to the studio, never opens the greeting.
        for (const event of ['click', 'keydown', 'pointerdown']) {
            element('make-own').addEventListener(event, e => e.stopPropagation());
        }
        if (studio !== null) {
            element('make-own').hidden = true;
            element('make-own-end').hidden = true;
        }
        element('stage').addEventListener('pointerdown', showControls);
        element('control-switch').onclick = pressFromControl(0x70);
        element('control-end').onclick = pressFromControl(0x1B);
        if (location.protocol === 'file:') {
            fail('file', 'This greeting cannot run from a file on this device.',
                 'Open it from its web address. (To try a copy of the site, serve its folder with web/serve.sh.)');
            return;
        }
        // The preview runs the studio's build (the studio and its iframe are isolated alike).
        const build = studio !== null ? studio.build : await tarnwickSite.chooseBuild();
        if (build === null) {
            return;
        }
        tarnwick.build = build;
        if (document.createElement('canvas').getContext('webgl') === null) {
            fail('webgl', "This browser cannot draw the greeting's pictures (it offers no WebGL).", OpenElsewhere,
                 'copy');
            return;
        }
        if (typeof AudioWorkletNode !== 'function') {
            fail('audioworklet', "This browser cannot play the greeting's song (it offers no AudioWorklet).",
                 OpenElsewhere, 'copy');
            return;
        }
        let files;
        try {
            files = await tarnwickSite.loadDataPack();
        } catch (e) {
            fail('data', "The greeting's pictures and song could not be downloaded (" + e.message + ').',
                 'Check the connection, then try again.', 'retry');
            return;
        }
        offerOpening();
        loadProgram(files, build);
    }

    start();
})();
