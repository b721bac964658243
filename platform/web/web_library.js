// The browser side of the web platform (an emscripten JS library): the canvas window, fullscreen, keys,
// HTML message boxes and the audio worklet's node. The page (web/index.html, web/page.js) provides the
// stage the canvas goes on, the dialog, the status object `tarnwick` and the audio context made on the
// user's click (`tarnwickPage`).

var LibraryTarnwickWeb = {
    $TwWeb: {
        started: false,
        events: [],           // [message, wParam, lParam] waiting for PlatPeekMessage
        pressed: {},          // keys whose press was handed out since the last poll that found none
        fullscreenCanvas: false,  // the canvas now on the page was made for fullscreen
        leaving: false,       // the program itself asked to leave fullscreen
        node: null,           // the audio worklet's node while a ring plays
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

        onFullscreenChange: function() {
            if (document.fullscreenElement) {
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
    },

    tw_web_enter_fullscreen__deps: ['$TwWeb'],
    tw_web_enter_fullscreen__sig: 'i',
    tw_web_enter_fullscreen: function() {
        return Asyncify.handleAsync(async function() {
            var stage = document.getElementById('stage');
            if (!stage || !stage.requestFullscreen) {
                return 0;
            }
            try {
                await stage.requestFullscreen({navigationUI: 'hide'});
            } catch (e) {
                return 0;
            }
            // Where the browser lets a page keep Esc in fullscreen, Esc ends the intro as it does elsewhere
            // (holding it still leaves fullscreen).
            if (navigator.keyboard && navigator.keyboard.lock) {
                navigator.keyboard.lock(['Escape']).catch(function() {});
            }
            return document.fullscreenElement ? 1 : 0;
        });
    },

    tw_web_leave_fullscreen__deps: ['$TwWeb'],
    tw_web_leave_fullscreen: function() {
        if (navigator.keyboard && navigator.keyboard.unlock) {
            navigator.keyboard.unlock();
        }
        if (document.fullscreenElement) {
            TwWeb.leaving = true;
            document.exitFullscreen().catch(function() {
                TwWeb.leaving = false;
            });
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
        var old = document.getElementById('canvas');
        if (old) {
            old.remove();
        }
        // A new canvas for every window, so every window gets a new WebGL context as it gets a new GL one.
        var canvas = document.createElement('canvas');
        canvas.id = 'canvas';
        canvas.width = width;
        canvas.height = height;
        canvas.className = fullscreen ? 'fullscreen' : 'windowed';
        if (!fullscreen) {
            canvas.style.width = width + 'px';
            canvas.style.height = height + 'px';
        }
        stage.appendChild(canvas);
        stage.hidden = false;
        document.title = UTF8ToString(title);
        TwWeb.fullscreenCanvas = fullscreen !== 0;
        if (window.tarnwickPage) {
            window.tarnwickPage.sceneShown();
        }
        return 1;
    },

    tw_web_remove_canvas__deps: ['$TwWeb'],
    tw_web_remove_canvas: function() {
        var canvas = document.getElementById('canvas');
        if (canvas) {
            canvas.remove();
        }
        TwWeb.fullscreenCanvas = false;
    },

    tw_web_next_frame__sig: 'v',
    tw_web_next_frame: function() {
        return Asyncify.handleSleep(function(wakeUp) {
            if (window.tarnwick) {
                window.tarnwick.frames++;
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

    tw_web_audio_open__sig: 'ii',
    tw_web_audio_open: function(rate) {
        return Asyncify.handleAsync(async function() {
            var page = window.tarnwickPage;
            if (!page || !page.audioContext || page.audioContext.sampleRate !== rate) {
                return 0;
            }
            try {
                await page.workletReady;
            } catch (e) {
                return 0;
            }
            return 1;
        });
    },

    tw_web_audio_start__deps: ['$TwWeb'],
    tw_web_audio_start: function(ring, bytes, shared) {
        var page = window.tarnwickPage;
        if (!page || !page.audioContext) {
            return 0;
        }
        try {
            TwWeb.node = new AudioWorkletNode(page.audioContext, 'tarnwick-ring', {
                numberOfInputs: 0,
                numberOfOutputs: 1,
                outputChannelCount: [2],
                processorOptions: {
                    memory: wasmMemory.buffer,
                    ring: ring,
                    bytes: bytes,
                    shared: shared,
                    captureBytes: page.captureBytes
                }
            });
        } catch (e) {
            return 0;
        }
        TwWeb.node.port.onmessage = function(message) {
            page.audioMessage(message.data);
        };
        TwWeb.node.connect(page.audioContext.destination);
        page.audioStarted(shared);
        return 1;
    },

    tw_web_audio_stop__deps: ['$TwWeb'],
    tw_web_audio_stop: function() {
        if (TwWeb.node) {
            TwWeb.node.disconnect();
            TwWeb.node = null;
        }
        if (window.tarnwickPage) {
            window.tarnwickPage.audioStopped();
        }
    }
};

autoAddDeps(LibraryTarnwickWeb, '$TwWeb');
mergeInto(LibraryManager.library, LibraryTarnwickWeb);
