// What the greeting's page (page.js) and the studio page (make.js) share: which build of the program this
// page runs, loading that build, reading the data pack, the audio context made inside the reader's tap, and
// copying a link.
//
// Two builds of the program: with shared memory and a streaming thread where the page is cross-origin
// isolated (on a host that sends the two headers, or through the site's own service worker), and without
// threads everywhere else (in-app browsers among them). ?build=single picks the build without threads on an
// isolated page too.
'use strict';

window.tarnwickSite = (function() {
    const OutputRate = 44100;

    // Which build this page runs: 'threads' where the page is cross-origin isolated, 'single' elsewhere. A
    // host without the isolation headers gets them from the site's service worker (installed once, then the
    // page reloads through it: null is returned and nothing more should happen); where that cannot work, the
    // build without threads runs.
    async function chooseBuild() {
        const query = new URLSearchParams(location.search);
        if (window.crossOriginIsolated) {
            sessionStorage.removeItem('tarnwick-isolating');
            return query.get('build') === 'single' ? 'single' : 'threads';
        }
        if ('serviceWorker' in navigator && !sessionStorage.getItem('tarnwick-isolating') &&
                query.get('build') !== 'single') {
            try {
                await navigator.serviceWorker.register('sw.js');
                await navigator.serviceWorker.ready;
                sessionStorage.setItem('tarnwick-isolating', '1');
                location.reload();
                return null;
            } catch (e) {
                console.warn('tarnwick: no service worker: ' + e);
            }
        }
        return 'single';
    }

    // The data pack (web/pack_data.py): a 32-bit little-endian length, a JSON list of [path, size], then the
    // files' bytes one after the other. The files: [[path, bytes]] in its order; throws on a pack that does not
    // hold what its index says.
    function unpackData(buffer) {
        const view = new DataView(buffer);
        if (buffer.byteLength < 4 || 4 + view.getUint32(0, true) > buffer.byteLength) {
            throw new Error('the data pack is damaged');
        }
        const indexLength = view.getUint32(0, true);
        const index = JSON.parse(new TextDecoder().decode(new Uint8Array(buffer, 4, indexLength)));
        if (!Array.isArray(index)) {
            throw new Error('the data pack is damaged');
        }
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

    // Downloads the site's data pack and unpacks it; throws with what went wrong ("HTTP 404", "the data pack
    // is damaged", the network's own words).
    async function loadDataPack() {
        const response = await fetch('data.pack');
        if (!response.ok) {
            throw new Error('HTTP ' + response.status);
        }
        return unpackData(await response.arrayBuffer());
    }

    // Writes unpacked files into the program's file system (Module.FS), making their folders.
    function writeFiles(fs, files) {
        for (const [path, bytes] of files) {
            const folder = path.substring(0, path.lastIndexOf('/'));
            if (folder !== '') {
                fs.mkdirTree(folder);
            }
            fs.writeFile(path, bytes);
        }
    }

    // Loads a build of the program into this page: `options` become window.Module (its hooks, noInitialRun,
    // preRun...), with the build's own files located. `failed` is called when the script cannot be downloaded.
    function loadProgram(build, options, failed) {
        const script = build === 'threads' ? 'tarnwick.js' : 'tarnwick-single.js';
        window.Module = Object.assign({
            // The build without threads has its own program file beside the other.
            locateFile(path, prefix) {
                return prefix + (build === 'threads' ? path : path.replace(/^tarnwick\./, 'tarnwick-single.'));
            }
        }, options);
        const tag = document.createElement('script');
        tag.src = script;
        tag.onerror = failed;
        document.body.appendChild(tag);
    }

    // The audio context, made and started inside the reader's tap (a phone lets a page start sound only
    // there). It asks for the program's rate; a browser that runs at its own rate gets the sound converted by
    // the worklet.
    function makeAudioContext() {
        if (navigator.audioSession) {
            // The greeting is something to listen to: an iPhone's silent switch does not mute it.
            try {
                navigator.audioSession.type = 'playback';
            } catch (e) {
                // an older form of the session: left as it is
            }
        }
        const Context = window.AudioContext || window.webkitAudioContext;
        let context;
        try {
            context = new Context({sampleRate: OutputRate, latencyHint: 'playback'});
        } catch (e) {
            context = new Context();
        }
        context.resume().catch(() => {});
        return context;
    }

    // Puts a link on the clipboard and says so in `status`. Where the browser lets no page write the clipboard,
    // the link stands selected in `field` (an input, shown first by `reveal` where given) to copy by hand.
    function copyLink(link, field, status, reveal) {
        const done = () => { status.textContent = 'The link is copied.'; };
        const byHand = () => {
            if (reveal) {
                reveal();
            }
            field.value = link;
            field.focus();
            field.select();
            try {
                if (document.execCommand('copy')) {
                    done();
                    return;
                }
            } catch (e) {
                // fall through to the selected link
            }
            status.textContent = 'Copy the link above.';
        };
        if (navigator.clipboard && navigator.clipboard.writeText) {
            navigator.clipboard.writeText(link).then(done, byHand);
        } else {
            byHand();
        }
    }

    return {OutputRate, chooseBuild, loadDataPack, writeFiles, loadProgram, makeAudioContext, copyLink};
})();
