// The browser side of the web platform (an emscripten JS library): the canvas window, fullscreen, keys,
// HTML message boxes, the audio worklet's node and the hidden canvas a video's pictures are drawn on. The page
// (web/index.html, web/page.js) provides the stage the canvas goes on, the dialog, the status object
// `tarnwick` and the audio context made on the user's click, with the output to play into (`tarnwickPage`);
// the video's page (web/record.html) only the document the hidden canvas goes into.

var LibraryTarnwickWeb = {
    $TwWeb: {
        started: false,
        events: [],           // [message, wParam, lParam] waiting for PlatPeekMessage
        pressed: {},          // keys whose press was handed out since the last poll that found none
        fullscreenCanvas: false,  // the canvas now on the page was made for fullscreen
        viewportFullscreen: false,  // fullscreen is the whole viewport (the browser has no element fullscreen)
        leaving: false,       // the program itself asked to leave fullscreen
        node: null,           // the audio worklet's node while a ring plays
        rate: 0,              // the rate the program mixes at (frames per second)
        ring: 0,              // the queued ring's address, its control words' address, and whether the
        shared: 0,            // worklet reads them from shared memory (the build with threads)
        sharedMemory: false,
        played: 0,            // bytes played, as the worklet last reported
        written: [],          // blocks mixed again, not yet sent to the worklet (the build without threads)
        writtenPerMessage: 4,
        polling: false,       // the streaming work runs on the main thread now (the build without threads)
        lastPoll: 0,          // when it last ran (performance.now())
        // Win32 virtual-key codes by KeyboardEvent.code: the same keys as on every other system.
        keys: null,

        keyTable: function() {
            var table = {
                Backspace: 0x08, Tab: 0x09, Enter: 0x0D, NumpadEnter: 0x0D, ShiftLeft: 0x10, ShiftRight: 0x10,
                ControlLeft: 0x11, ControlRight: 0x11, AltLeft: 0x12, AltRight: 0x12, Pause: 0x13,
                CapsLock: 0x14, Escape: 0x1B, Space: 0x20, PageUp: 0x21, PageDown: 0x22, End: 0x23,
                Home: 0x24, ArrowLeft: 0x25, ArrowUp: 0x26, ArrowRight: 0x27, ArrowDown: 0x28,
                PrintScreen: 0x2C, Insert: 0x2D, Delete: 0x2E, MetaLeft: 0x5B, MetaRight: 0x5C,
                ContextMenu: 0x5D, NumpadMultiply: 0x6A, NumpadAdd: 0x6B, NumpadSubtract: 0x6D,
                NumpadDecimal: 0x6E, NumpadDivide: 0x6F, NumLock: 0x90, ScrollLock: 0x91, Semicolon: 0xBA,
                Equal: 0xBB, Comma: 0xBC, Minus: 0xBD, Period: 0xBE, Slash: 0xBF, Backquote: 0xC0,
                BracketLeft: 0xDB, Backslash: 0xDC, BracketRight: 0xDD, Quote: 0xDE
            };
            for (var i = 0; i < 26; i++) {
                table['Key' + String.fromCharCode(65 + i)] = 65 + i;
            }
            for (var d = 0; d < 10; d++) {
                table['Digit' + d] = 0x30 + d;
                table['Numpad' + d] = 0x60 + d;
            }
            for (var f = 1; f <= 24; f++) {
                table['F' + f] = 0x6F + f;
            }
            return table;
        },

        dialogOpen: function() {
            var dialog = document.getElementById('dialog');
            return dialog !== null && dialog.open;
        },

        onKey: function(event) {
            var key = TwWeb.keys[event.code];
            if (key === undefined || TwWeb.dialogOpen()) {
                return;
            }
            // F1 is the intro's own key: the browser's help must not open.
            if (key === 0x70) {
                event.preventDefault();
            }
            TwWeb.events.push([event.type === 'keydown' ? 0x0100 : 0x0101, key, 0]);
        },

        fullscreenElement: function() {
            return document.fullscreenElement || document.webkitFullscreenElement || null;
        },

        // The canvas as large as the viewport allows with its aspect kept: the whole viewport in fullscreen,
        // at most its own size in a window.
        layout: function() {
            var canvas = document.getElementById('canvas');
            if (!canvas) {
                return;
            }
            var width = document.documentElement.clientWidth || window.innerWidth;
            var height = window.innerHeight;
            if (!TwWeb.fullscreenCanvas) {
                width = Math.min(width, canvas.width);
                height = Math.min(height, canvas.height);
            }
            var scale = Math.min(width / canvas.width, height / canvas.height);
            canvas.style.width = canvas.width * scale + 'px';
            canvas.style.height = canvas.height * scale + 'px';
            if (window.tarnwickPage) {
                window.tarnwickPage.sceneLaidOut();
            }
        },

        // A new canvas of the size given under `parent`, in place of any earlier one with that id.
        putCanvas: function(parent, id, width, height) {
            TwWeb.removeCanvas(id);
            var canvas = document.createElement('canvas');
            canvas.id = id;
            canvas.width = width;
            canvas.height = height;
            parent.appendChild(canvas);
            return canvas;
        },

        removeCanvas: function(id) {
            var canvas = document.getElementById(id);
            if (canvas) {
                canvas.remove();
            }
        },

        // A key pressed and released, as the page's touch controls give them.
        pressKey: function(key) {
            TwWeb.events.push([0x0100, key, 0]);
            TwWeb.events.push([0x0101, key, 0]);
        },

        onFullscreenChange: function() {
            TwWeb.layout();
            if (TwWeb.fullscreenElement()) {
                return;
            }
            if (TwWeb.leaving) {
                TwWeb.leaving = false;
                return;
            }
            // The user left fullscreen through the browser (Esc, the browser's own control): as F1 would.
            // A press alone: the frame loop takes F1 back up itself once it has switched.
            if (TwWeb.fullscreenCanvas) {
                TwWeb.events.push([0x0100, 0x70, 0]);
            }
        }
    },

    tw_web_start__deps: ['$TwWeb'],
    tw_web_start: function() {
        if (TwWeb.started) {
            return;
        }
        TwWeb.started = true;
        TwWeb.keys = TwWeb.keyTable();
        window.addEventListener('keydown', TwWeb.onKey, true);
        window.addEventListener('keyup', TwWeb.onKey, true);
        document.addEventListener('fullscreenchange', TwWeb.onFullscreenChange);
        document.addEventListener('webkitfullscreenchange', TwWeb.onFullscreenChange);
        window.addEventListener('resize', TwWeb.layout);
        window.addEventListener('orientationchange', TwWeb.layout);
        if (window.tarnwickPage) {
            window.tarnwickPage.pressKey = TwWeb.pressKey;
        }
    },

    tw_web_enter_fullscreen__deps: ['$TwWeb'],
    tw_web_enter_fullscreen__sig: 'i',
    tw_web_enter_fullscreen: function() {
        return Asyncify.handleAsync(async function() {
            var stage = document.getElementById('stage');
            if (!stage) {
                return 0;
            }
            var request = stage.requestFullscreen || stage.webkitRequestFullscreen;
            var enabled = document.fullscreenEnabled !== undefined ? document.fullscreenEnabled
                                                                   : document.webkitFullscreenEnabled;
            if (typeof request !== 'function' || enabled === false) {
                // No element fullscreen here (an iPhone, an embedded page): the whole viewport is the
                // fullscreen, and nothing has to be refused.
                TwWeb.viewportFullscreen = true;
                stage.classList.add('viewport-fullscreen');
                return 1;
            }
            try {
                var asked = request.call(stage, {navigationUI: 'hide'});
                if (asked && typeof asked.then === 'function') {
                    await asked;
                } else {
                    // The prefixed form answers only by its change event.
                    await new Promise(function(resolve) {
                        document.addEventListener('webkitfullscreenchange', resolve, {once: true});
                        document.addEventListener('webkitfullscreenerror', resolve, {once: true});
                        setTimeout(resolve, 1000);
                    });
                }
            } catch (e) {
                return 0;
            }
            // Where the browser lets a page keep Esc in fullscreen, Esc ends the intro as it does elsewhere
            // (holding it still leaves fullscreen).
            if (navigator.keyboard && navigator.keyboard.lock) {
                navigator.keyboard.lock(['Escape']).catch(function() {});
            }
            return TwWeb.fullscreenElement() ? 1 : 0;
        });
    },

    tw_web_leave_fullscreen__deps: ['$TwWeb'],
    tw_web_leave_fullscreen: function() {
        if (TwWeb.viewportFullscreen) {
            TwWeb.viewportFullscreen = false;
            var stage = document.getElementById('stage');
            if (stage) {
                stage.classList.remove('viewport-fullscreen');
            }
            return;
        }
        if (navigator.keyboard && navigator.keyboard.unlock) {
            navigator.keyboard.unlock();
        }
        if (TwWeb.fullscreenElement()) {
            TwWeb.leaving = true;
            var exit = document.exitFullscreen || document.webkitExitFullscreen;
            var left = exit.call(document);
            if (left && typeof left.catch === 'function') {
                left.catch(function() {
                    TwWeb.leaving = false;
                });
            }
        }
    },

    tw_web_show_pointer: function(show) {
        var stage = document.getElementById('stage');
        if (stage) {
            stage.style.cursor = show ? '' : 'none';
        }
    },

    tw_web_create_canvas__deps: ['$TwWeb'],
    tw_web_create_canvas: function(title, width, height, fullscreen) {
        var stage = document.getElementById('stage');
        if (!stage) {
            return 0;
        }
        // A new canvas for every window, so every window gets a new WebGL context as it gets a new GL one.
        var canvas = TwWeb.putCanvas(stage, 'canvas', width, height);
        canvas.className = fullscreen ? 'fullscreen' : 'windowed';
        stage.hidden = false;
        document.title = UTF8ToString(title);
        TwWeb.fullscreenCanvas = fullscreen !== 0;
        if (window.tarnwickPage) {
            window.tarnwickPage.sceneShown();
        }
        TwWeb.layout();
        return 1;
    },

    tw_web_remove_canvas__deps: ['$TwWeb'],
    tw_web_remove_canvas: function() {
        TwWeb.removeCanvas('canvas');
        TwWeb.fullscreenCanvas = false;
    },

    tw_web_create_offscreen_canvas__deps: ['$TwWeb'],
    tw_web_create_offscreen_canvas: function(width, height) {
        if (typeof document === 'undefined' || !document.body) {
            return 0;
        }
        // On the page (WebGL is asked for by the canvas's selector) but never shown or laid out.
        TwWeb.putCanvas(document.body, 'tarnwick-offscreen', width, height).hidden = true;
        return 1;
    },

    tw_web_remove_offscreen_canvas__deps: ['$TwWeb'],
    tw_web_remove_offscreen_canvas: function() {
        TwWeb.removeCanvas('tarnwick-offscreen');
    },

    tw_web_next_frame__sig: 'v',
    tw_web_next_frame: function() {
        return Asyncify.handleSleep(function(wakeUp) {
            if (window.tarnwick && window.tarnwick.frames++ === 0) {
                window.tarnwick.timing.firstFrameMs = performance.now();
            }
            requestAnimationFrame(function() {
                wakeUp();
            });
        });
    },

    tw_web_take_event__deps: ['$TwWeb'],
    tw_web_take_event: function(fields) {
        // Between frames a quick tap's press and release arrive together, but the frame loop acts on a held
        // key only in a pass without a message: a release of a key pressed since the last such pass waits
        // for one, so no tap is lost.
        var event = TwWeb.events[0];
        if (event === undefined || (event[0] === 0x0101 && TwWeb.pressed[event[1]])) {
            TwWeb.pressed = {};
            return 0;
        }
        TwWeb.events.shift();
        if (event[0] === 0x0100) {
            TwWeb.pressed[event[1]] = true;
        }
        HEAP32[fields >> 2] = event[0];
        HEAP32[(fields >> 2) + 1] = event[1];
        HEAP32[(fields >> 2) + 2] = event[2];
        return 1;
    },

    tw_web_message_box__sig: 'iiii',
    tw_web_message_box: function(text, caption, yesNo) {
        var textString = UTF8ToString(text);
        var captionString = UTF8ToString(caption);
        return Asyncify.handleAsync(function() {
            return window.tarnwickPage.messageBox(captionString, textString, yesNo !== 0);
        });
    },

    tw_web_audio_open__deps: ['$TwWeb'],
    tw_web_audio_open__sig: 'ii',
    tw_web_audio_open: function(rate) {
        return Asyncify.handleAsync(async function() {
            var page = window.tarnwickPage;
            if (!page || !page.audioContext) {
                return 0;
            }
            try {
                await page.workletReady;
            } catch (e) {
                return 0;
            }
            // Any rate of the context serves: the worklet converts from the program's.
            TwWeb.rate = rate;
            return 1;
        });
    },

    tw_web_audio_start__deps: ['$TwWeb'],
    tw_web_audio_start: function(ring, bytes, shared) {
        var page = window.tarnwickPage;
        if (!page || !page.audioContext) {
            return 0;
        }
        TwWeb.sharedMemory = typeof SharedArrayBuffer !== 'undefined' && wasmMemory.buffer instanceof SharedArrayBuffer;
        TwWeb.ring = ring;
        TwWeb.shared = shared;
        TwWeb.played = 0;
        TwWeb.written = [];
        var options = {bytes: bytes, rate: TwWeb.rate, captureBytes: page.captureBytes()};
        if (TwWeb.sharedMemory) {
            options.memory = wasmMemory.buffer;
            options.ring = ring;
            options.shared = shared;
        } else {
            options.ringCopy = HEAPU8.slice(ring, ring + bytes).buffer;
        }
        try {
            TwWeb.node = new AudioWorkletNode(page.audioContext, 'tarnwick-ring', {
                numberOfInputs: 0,
                numberOfOutputs: 1,
                outputChannelCount: [2],
                processorOptions: options
            });
        } catch (e) {
            return 0;
        }
        TwWeb.node.port.onmessage = function(message) {
            var data = message.data;
            if (data.played !== undefined) {
                TwWeb.played = data.played;
                // No frame has run the streaming work for a while (a hidden tab, a dialog waiting): the
                // worklet's progress runs it.
                if (TwWeb.polling && performance.now() - TwWeb.lastPoll > 30) {
                    Module['_tw_web_poll']();
                }
            }
            page.audioMessage(data);
        };
        // The page may give an output of its own (the studio's preview: one it can silence whatever this page
        // does); else the context's speaker.
        TwWeb.node.connect(page.audioDestination || page.audioContext.destination);
        page.audioStarted(shared, TwWeb.sharedMemory);
        return 1;
    },

    tw_web_audio_stop__deps: ['$TwWeb'],
    tw_web_audio_stop: function() {
        if (TwWeb.node) {
            if (!TwWeb.sharedMemory) {
                TwWeb.node.port.postMessage({stop: true});
            }
            TwWeb.node.disconnect();
            TwWeb.node = null;
        }
        if (window.tarnwickPage) {
            window.tarnwickPage.audioStopped();
        }
    },

    tw_web_audio_control__deps: ['$TwWeb'],
    tw_web_audio_control: function() {
        if (TwWeb.node && !TwWeb.sharedMemory) {
            TwWeb.node.port.postMessage({paused: HEAP32[(TwWeb.shared + 36) >> 2] !== 0});
        }
    },

    tw_web_audio_played__deps: ['$TwWeb'],
    tw_web_audio_played: function() {
        return TwWeb.played;
    },

    tw_web_audio_written__deps: ['$TwWeb'],
    tw_web_audio_written: function(offset, bytes, freshStart, freshEnd) {
        if (!TwWeb.node) {
            return;
        }
        // Sent a few blocks at a time: a message costs more than the mixing of a block, and the worklet has
        // about two seconds in hand.
        var data = HEAPU8.slice(TwWeb.ring + offset, TwWeb.ring + offset + bytes).buffer;
        TwWeb.written.push({offset: offset, data: data});
        if (TwWeb.written.length >= TwWeb.writtenPerMessage) {
            var parts = TwWeb.written;
            TwWeb.written = [];
            TwWeb.node.port.postMessage({written: parts, freshStart: freshStart, freshEnd: freshEnd},
                                        parts.map(function(part) { return part.data; }));
        }
    },

    tw_web_polling__deps: ['$TwWeb'],
    tw_web_polling: function(on) {
        TwWeb.polling = on !== 0;
        TwWeb.lastPoll = performance.now();
    },

    tw_web_polled__deps: ['$TwWeb'],
    tw_web_polled: function(milliseconds) {
        TwWeb.lastPoll = performance.now();
        if (window.tarnwickPage) {
            window.tarnwickPage.mainThreadMixed(milliseconds);
        }
    }
};

autoAddDeps(LibraryTarnwickWeb, '$TwWeb');
mergeInto(LibraryManager.library, LibraryTarnwickWeb);
