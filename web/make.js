// The studio page (make.html): write a greeting, hear and see it, choose a song, send the link or download the
// video. Everything happens in this browser: the text and the song are judged by the program itself, loaded
// here without running its main (its exports StudioCheckGreeting, StudioIntroGreeting and StudioDescribeSong:
// the intro's own conversion, messages and loader); the preview is the greeting's own page in an iframe
// (index.html?preview), which takes the text and the song from here and plays through this page's audio
// context; the video comes from video.js, loaded when it is asked for.
//
// window.tarnwickStudio is what the preview reads (build, audioContext, workletReady, previewGreeting(),
// previewSong(), previewOutput()) and, for tests and the curious, the state: ready, greeting (the last
// check's answer), bytes (the text's UTF-8 byte count), song (null for the intro's song, else its
// description), songError, link, previews (how many previews started), video ({state, fraction, message}).
'use strict';

(function() {
    // The preview starts again at most this often while the text changes.
    const RestartEveryMs = 1000;
    // The longest wait for a running preview to end on the intro's own Esc before its frame goes anyway.
    const PreviewEndWaitMs = 2000;
    // Some messengers cut longer links.
    const LongLinkCharacters = 2000;
    const EscapeKey = 0x1B;

    const element = id => document.getElementById(id);
    const studio = {
        build: null,
        audioContext: null,
        workletReady: null,
        ready: false,
        greeting: null,
        bytes: 0,
        song: null,
        songError: '',
        link: '',
        previews: 0,
        video: {state: 'idle', fraction: 0, message: ''},
        failure: null,
        previewGreeting: () => current.previewGreeting,
        previewSong: () => current.previewSong,
        previewOutput: () => current.previewOutput
    };
    window.tarnwickStudio = studio;

    // What the preview running now was given, and the output its sound goes through.
    const current = {previewGreeting: new Uint8Array(0), previewSong: null, previewOutput: null, frame: null};
    let greetingLimit = 0;      // MaxGreetingBytes, as the program says it
    let songLimit = 0;          // StudioMaxSongBytes, as the program says it
    let introSong = null;       // the intro's own song: {bytes, description}
    let ownSong = null;         // the song of one's own: {name, bytes, description}
    let greetingBytes = new Uint8Array(0);
    let greetingUsable = false;
    let lastRestart = -Infinity;
    let restartTimer = 0;
    let previewChain = Promise.resolve();
    let videoController = null;

    function fail(text) {
        studio.failure = text;
        element('studio-failure').textContent = text;
        element('studio-failure').hidden = false;
    }

    // ---- The program's views of the text and the song -------------------------------------------------------

    // Calls one of the program's studio exports with bytes; its JSON answer.
    function ask(name, bytes) {
        const pointer = bytes.length > 0 ? Module._malloc(bytes.length) : 0;
        if (bytes.length > 0 && pointer === 0) {
            throw new Error('not enough memory in the page for ' + bytes.length + ' bytes');
        }
        try {
            if (pointer !== 0) {
                Module.HEAPU8.set(bytes, pointer);
            }
            return JSON.parse(Module.UTF8ToString(Module['_' + name](pointer, bytes.length)));
        } finally {
            if (pointer !== 0) {
                Module._free(pointer);
            }
        }
    }

    function formatCount(count) {
        return count.toLocaleString('en-US');
    }

    // The text as the program sees it: its size against the limit, the intro's error or warning. Only the
    // first limit + 1 bytes go to the program: enough to tell a text that is too large.
    function checkGreeting() {
        greetingBytes = new TextEncoder().encode(element('greeting').value);
        studio.bytes = greetingBytes.length;
        const answer = ask('StudioCheckGreeting', greetingBytes.subarray(0, greetingLimit + 1));
        studio.greeting = answer;
        showGreetingCheck(answer, greetingBytes.length);
        greetingUsable = answer.error === '';
        updateLink();
        element('video-start').disabled = !greetingUsable || videoController !== null;
    }

    function showGreetingCheck(answer, count) {
        element('greeting-count').textContent = formatCount(count) + ' of ' + formatCount(greetingLimit) + ' bytes';
        element('greeting-error').textContent = answer.error;
        element('greeting-error').hidden = answer.error === '';
        element('greeting-warning').textContent = answer.warning;
        element('greeting-warning').hidden = answer.warning === '';
    }

    function describeSong(bytes) {
        return ask('StudioDescribeSong', bytes);
    }

    function songSummary(description) {
        const parts = [description.title !== '' ? '“' + description.title + '”' : 'Untitled',
                       description.channels + (description.channels === 1 ? ' channel' : ' channels'),
                       description.length !== '' ? description.length : 'longer than an hour'];
        return parts.join(' · ');
    }

    // ---- The text --------------------------------------------------------------------------------------------

    function textChanged() {
        checkGreeting();
        schedulePreview();
    }

    // A text file through the program's conversion: a file it refuses keeps the text box as it is.
    async function openTextFile(file) {
        const head = new Uint8Array(await file.slice(0, greetingLimit + 1).arrayBuffer());
        const answer = ask('StudioCheckGreeting', head);
        if (answer.error !== '') {
            element('greeting-error').textContent = file.name + ': ' + answer.error;
            element('greeting-error').hidden = false;
            return;
        }
        element('greeting').value = new TextDecoder().decode(head);
        textChanged();
    }

    // ---- The song --------------------------------------------------------------------------------------------

    function songBytes() {
        return element('song-own').checked && ownSong !== null ? ownSong.bytes : null;
    }

    function showSong() {
        const own = element('song-own').checked && ownSong !== null;
        const description = own ? ownSong.description : introSong !== null ? introSong.description : null;
        studio.song = own ? Object.assign({name: ownSong.name}, description) : null;
        element('song-info').textContent = description === null ? ''
            : (own ? ownSong.name + ': ' : "The intro's song: ") + songSummary(description);
        element('link-song-note').hidden = !own;
        const first = description !== null && description.lengthFrames >= 0
            ? ' (' + description.length.replace(/\.\d+$/, '') + ' and 1 s)' : '';
        element('length-song-text').textContent = "The song's first pass and a one-second fade" + first;
    }

    function songRefused(text) {
        studio.songError = text;
        element('song-error').textContent = text;
        element('song-error').hidden = false;
        // The song in use stays what it was.
        element('song-own').checked = ownSong !== null && element('song-own').checked;
        element('song-intro').checked = !element('song-own').checked;
        showSong();
    }

    // A module of one's own, read by the program's loader; one it refuses, or one too large for the page,
    // leaves the song as it was.
    async function openSong(file) {
        element('song-error').hidden = true;
        studio.songError = '';
        if (file.size > songLimit) {
            songRefused('cannot load ' + file.name + ': ' + (file.size / 1048576).toFixed(1) +
                        ' MB is larger than the studio takes (' + songLimit / 1048576 + ' MB)');
            return;
        }
        let bytes;
        try {
            bytes = new Uint8Array(await file.arrayBuffer());
        } catch (e) {
            songRefused('cannot load ' + file.name + ': the file cannot be read (' + e.message + ')');
            return;
        }
        let description;
        try {
            description = describeSong(bytes);
        } catch (e) {
            songRefused('cannot load ' + file.name + ': ' + e.message);
            return;
        }
        if (!description.ok) {
            songRefused('cannot load ' + file.name + ': ' + description.error);
            return;
        }
        ownSong = {name: file.name, bytes, description};
        element('song-own').disabled = false;
        element('song-own').checked = true;
        showSong();
        restartPreview();
    }

    function songChoiceChanged() {
        if (element('song-own').checked && ownSong === null) {
            element('song-file').click();
            element('song-intro').checked = true;
            return;
        }
        showSong();
        restartPreview();
    }

    // ---- The preview -----------------------------------------------------------------------------------------

    // The first tap: the audio context and its worklet module, made once, inside the tap.
    function startPreviews() {
        if (studio.audioContext === null) {
            try {
                studio.audioContext = tarnwickSite.makeAudioContext();
                studio.workletReady = studio.audioContext.audioWorklet.addModule('worklet.js');
            } catch (e) {
                previewNote('This browser cannot play sound here (' + e.message + ').');
                return;
            }
            studio.workletReady.catch(e => previewNote("The preview's sound could not be started (" + e + ').'));
        }
        element('preview-start').hidden = true;
        restartPreview();
    }

    function previewNote(text) {
        element('preview-note').textContent = text;
        element('preview-note').hidden = text === '';
    }

    // While the text changes the preview starts again at most once a second, with the latest text.
    function schedulePreview() {
        if (studio.audioContext === null) {
            return;
        }
        clearTimeout(restartTimer);
        const wait = lastRestart + RestartEveryMs - performance.now();
        restartTimer = setTimeout(restartPreview, Math.max(0, wait));
    }

    // Ends the running preview: its output is cut at once (nothing it does is heard any more), the intro gets
    // its own Esc so that it stops its song and its worklet node, and its frame goes once it has ended.
    async function endPreview() {
        const frame = current.frame;
        current.frame = null;
        if (current.previewOutput !== null) {
            current.previewOutput.disconnect();
            current.previewOutput = null;
        }
        if (frame === null) {
            return;
        }
        const view = frame.contentWindow;
        const running = () => view && view.tarnwick && view.tarnwick.frames > 0 && view.tarnwick.exitCode === null;
        if (running() && view.tarnwickPage && view.tarnwickPage.pressKey) {
            view.tarnwickPage.pressKey(EscapeKey);
            const until = performance.now() + PreviewEndWaitMs;
            while (running() && performance.now() < until) {
                await new Promise(resolve => setTimeout(resolve, 50));
            }
        }
        frame.remove();
    }

    function restartPreview() {
        clearTimeout(restartTimer);
        if (studio.audioContext === null) {
            return;
        }
        lastRestart = performance.now();
        previewChain = previewChain.then(async () => {
            await endPreview();
            if (!greetingUsable) {
                previewNote('The preview waits for a greeting the intro can show.');
                return;
            }
            previewNote('');
            current.previewGreeting = greetingBytes;
            current.previewSong = songBytes();
            current.previewOutput = studio.audioContext.createGain();
            current.previewOutput.connect(studio.audioContext.destination);
            const frame = document.createElement('iframe');
            frame.title = 'Preview of the greeting';
            frame.allow = 'fullscreen; autoplay';
            frame.src = 'index.html?preview';
            element('preview-box').appendChild(frame);
            current.frame = frame;
            studio.previews++;
        });
    }

    // ---- Share -----------------------------------------------------------------------------------------------

    function greetingLink() {
        const page = new URL('index.html', location.href);
        page.search = '';
        page.hash = '';
        return page.href + '#greeting=' + encodeURIComponent(element('greeting').value);
    }

    function updateLink() {
        const usable = greetingUsable;
        const link = usable ? greetingLink() : '';
        studio.link = link;
        element('link').value = usable ? link : 'Mend the greeting first: ' + studio.greeting.error;
        element('copy').disabled = !usable;
        element('share').disabled = !usable;
        element('link-warning').hidden = !usable || link.length <= LongLinkCharacters;
        element('link-warning').textContent = 'The link is ' + formatCount(link.length) +
            ' characters long: some messengers cut links longer than ' + formatCount(LongLinkCharacters) +
            '. A shorter text makes a shorter link.';
        drawQrCode(link);
    }

    // The link as a QR code (the smallest version that holds it, a quiet zone of four modules).
    function drawQrCode(link) {
        const canvas = element('qr');
        const note = element('qr-note');
        canvas.width = 0;
        canvas.height = 0;
        note.hidden = true;
        if (link === '') {
            return;
        }
        let code;
        try {
            code = qrcode(0, 'L');
            code.addData(link, 'Byte');
            code.make();
        } catch (e) {
            note.textContent = 'The link is too long for a QR code: send the link itself.';
            note.hidden = false;
            return;
        }
        const modules = code.getModuleCount();
        const scale = Math.max(2, Math.floor(296 / (modules + 8)));
        canvas.width = canvas.height = (modules + 8) * scale;
        const context = canvas.getContext('2d');
        context.fillStyle = '#fff';
        context.fillRect(0, 0, canvas.width, canvas.height);
        context.fillStyle = '#000';
        for (let row = 0; row < modules; row++) {
            for (let column = 0; column < modules; column++) {
                if (code.isDark(row, column)) {
                    context.fillRect((column + 4) * scale, (row + 4) * scale, scale, scale);
                }
            }
        }
    }

    function copyLink() {
        tarnwickSite.copyLink(studio.link, element('link'), element('copy-done'));
    }

    function shareLink() {
        navigator.share({title: 'A greeting for you', url: studio.link}).catch(e => {
            if (e.name !== 'AbortError') {
                element('copy-done').textContent = 'The link could not be shared (' + e.message + '): copy it instead.';
            }
        });
    }

    // ---- The video -------------------------------------------------------------------------------------------

    function videoMessage(text) {
        studio.video.message = text;
        element('video-message').textContent = text;
    }

    function formatSecondsLeft(seconds) {
        if (!Number.isFinite(seconds) || seconds < 0) {
            return '';
        }
        const whole = Math.ceil(seconds);
        return (whole >= 60 ? Math.floor(whole / 60) + ' min ' : '') + (whole % 60) + ' s left';
    }

    function videoLength() {
        if (!element('length-fixed').checked) {
            return null;
        }
        const seconds = Number(element('length-seconds').value);
        return Number.isFinite(seconds) && seconds >= 1 && seconds <= 3600 ? seconds : NaN;
    }

    function videoEnded() {
        videoController = null;
        element('video-cancel').hidden = true;
        element('video-progress-row').hidden = true;
        element('video-start').disabled = !greetingUsable;
    }

    async function makeVideo() {
        const seconds = videoLength();
        if (Number.isNaN(seconds)) {
            videoMessage('Give the length as a whole number of seconds from 1 to 3600.');
            return;
        }
        videoController = new AbortController();
        element('video-start').disabled = true;
        element('video-cancel').hidden = false;
        element('video-progress').value = 0;
        element('video-left').textContent = '';
        element('video-progress-row').hidden = false;
        studio.video.state = 'making';
        studio.video.fraction = 0;
        videoMessage('Making the video…');
        const signal = videoController.signal;
        try {
            let video;
            try {
                video = await import('./video.js');
            } catch (e) {
                throw new Error('The video maker could not be loaded (' + e.message + '). Check the connection, ' +
                                'then try again.');
            }
            const support = await video.videoSupport();
            if (!support.ok) {
                throw new Error(support.message);
            }
            const made = await video.recordVideo({
                greeting: greetingBytes,
                song: songBytes(),
                seconds,
                signal,
                onProgress(fraction, secondsLeft) {
                    studio.video.fraction = fraction;
                    element('video-progress').value = fraction;
                    element('video-left').textContent = formatSecondsLeft(secondsLeft);
                }
            });
            if (signal.aborted) {
                throw new DOMException('cancelled', 'AbortError');
            }
            download(made.blob, made.fileName);
            studio.video.state = 'done';
            videoMessage('The video ' + made.fileName + ' (' + (made.blob.size / 1048576).toFixed(1) +
                         ' MB) is downloading. If no download starts, allow downloads for this page and try again.');
        } catch (e) {
            if (e && e.name === 'AbortError') {
                studio.video.state = 'cancelled';
                videoMessage('The video was cancelled.');
            } else {
                studio.video.state = 'failed';
                videoMessage('No video: ' + (e && e.message ? e.message : String(e)));
            }
        } finally {
            videoEnded();
        }
    }

    function download(blob, fileName) {
        const url = URL.createObjectURL(blob);
        const link = document.createElement('a');
        link.href = url;
        link.download = fileName;
        document.body.appendChild(link);
        link.click();
        link.remove();
        // The browser has taken the file by then; the memory goes back.
        setTimeout(() => URL.revokeObjectURL(url), 60000);
    }

    // ---- Start-up --------------------------------------------------------------------------------------------

    // The file a picker gave goes to `take`; the picker is emptied, so the same file can be picked again.
    function whenPicked(input, take) {
        input.onchange = () => {
            const file = input.files[0];
            input.value = '';
            if (file) {
                take(file);
            }
        };
    }

    function wire() {
        element('greeting').addEventListener('input', textChanged);
        element('greeting-open').onclick = () => element('greeting-file').click();
        whenPicked(element('greeting-file'), openTextFile);
        element('greeting-reset').onclick = () => {
            element('greeting').value = JSON.parse(Module.UTF8ToString(Module._StudioIntroGreeting())).text;
            textChanged();
        };
        element('preview-start').onclick = startPreviews;
        element('song-intro').onchange = songChoiceChanged;
        element('song-own').onchange = songChoiceChanged;
        element('song-open').onclick = () => element('song-file').click();
        whenPicked(element('song-file'), openSong);
        // A file dropped anywhere on the page is taken as a song, never opened by the browser instead.
        const drop = element('song-drop');
        document.addEventListener('dragover', event => {
            event.preventDefault();
            drop.classList.add('dragging');
        });
        document.addEventListener('dragleave', event => {
            if (event.relatedTarget === null) {
                drop.classList.remove('dragging');
            }
        });
        document.addEventListener('drop', event => {
            event.preventDefault();
            drop.classList.remove('dragging');
            const file = event.dataTransfer && event.dataTransfer.files[0];
            if (file) {
                openSong(file);
            }
        });
        element('copy').onclick = copyLink;
        element('share').hidden = typeof navigator.share !== 'function';
        element('share').onclick = shareLink;
        element('length-seconds').addEventListener('focus', () => { element('length-fixed').checked = true; });
        element('video-start').onclick = makeVideo;
        element('video-cancel').onclick = () => {
            if (videoController !== null) {
                videoController.abort();
            }
        };
    }

    // The intro's song from the data pack the preview downloads too (the browser keeps it for both).
    async function readIntroSong() {
        try {
            const files = await tarnwickSite.loadDataPack();
            const song = files.find(([path]) => path === 'data/glimrook.xm');
            if (song !== undefined) {
                introSong = {bytes: song[1], description: describeSong(song[1])};
            }
        } catch (e) {
            element('song-info').textContent = "The intro's song could not be read (" + e.message + ').';
        }
        showSong();
    }

    function programReady() {
        greetingLimit = ask('StudioCheckGreeting', new Uint8Array(0)).limit;
        songLimit = describeSong(new Uint8Array(0)).maxBytes;
        element('greeting').value = JSON.parse(Module.UTF8ToString(Module._StudioIntroGreeting())).text;
        for (const id of ['greeting', 'greeting-open', 'greeting-reset', 'preview-start', 'song-intro', 'song-own',
                          'song-open']) {
            element(id).disabled = false;
        }
        checkGreeting();
        studio.ready = true;
        readIntroSong();
    }

    async function start() {
        wire();
        if (location.protocol === 'file:') {
            fail('The studio cannot run from a file on this device: open it from its web address.');
            return;
        }
        const build = await tarnwickSite.chooseBuild();
        if (build === null) {
            return;
        }
        studio.build = build;
        tarnwickSite.loadProgram(build, {
            noInitialRun: true,
            print(line) {
                console.log(line);
            },
            printErr(line) {
                console.warn(line);
            },
            onRuntimeInitialized: programReady,
            onAbort(what) {
                fail('The studio stopped with an error (' + what + '). Load the page again.');
            }
        }, () => fail('The studio could not be downloaded. Check the connection, then load the page again.'));
    }

    start();
})();
