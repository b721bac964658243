#!/usr/bin/env node
// The greeting in Debian's Firefox ESR, headful under Xvfb (headless Firefox offers no WebGL here), driven
// over WebDriver BiDi by puppeteer-core, with a PulseAudio null sink of its own as the sound server.
//
// For each build named on the command line, in one browser with a fresh profile: the page loads with no
// console error and shows the opening screen; a real click (which gives the page the user activation that
// sound and fullscreen need) starts the greeting; tarnwick.frames grows; the audio runs, and its played
// count advances at 176,400 bytes a second against the wall clock; the scene is on the canvas (a screenshot:
// the black bars, the light-blue backdrop and the white snowflakes where they stand in every frame); Esc ends
// on the end screen with exit code 0; and the sink's monitor, recorded throughout, heard the song.
//
// Builds, and how each is served:
//   threads   by web/serve.sh, with the isolation headers: the page is cross-origin isolated.
//   single    a copy of the site without sw.js, by Python's plain server: not isolated, and no service worker
//             can make it so. The page then loads its build without threads.
// A page that says which build it runs (tarnwick.build) must name the one expected.
//
// Usage: firefox_test.mjs SITE [BUILD...]   (BUILD threads or single; threads when none is given)
// Run it under Xvfb with a 24-bit screen: xvfb-run -a -s "-screen 0 1024x768x24" node tests/web/firefox_test.mjs
// build-web/site. Prints one line per check and the figures measured; exit 0 when nothing failed (a skip is
// reported with its reason and figures, never counted as a pass).

import {spawn, spawnSync} from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {fileURLToPath} from 'node:url';
import zlib from 'node:zlib';
import puppeteer from 'puppeteer-core';

const ROOT = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..', '..');
const FIREFOX = '/usr/bin/firefox-esr';
const PULSE_SINK = path.join(ROOT, 'tests', 'support', 'pulse_sink.sh');
const BYTES_PER_SECOND = 44100 * 4;
const RATE_TOLERANCE = 0.05;
const RATE_SECONDS = 5;
// The screenshot is 24-bit and the canvas is scaled to its box: colours agree within this.
const COLOUR_TOLERANCE = 10;
const REGION_MATCH = 0.98;
const BLACK = [0, 0, 0];
const BACKDROP = [125, 167, 217];
// Parts of an 800 x 600 frame (x0, y0, x1, y1, top row first) that show one colour in every frame: the
// letterbox bars (but for the snowflakes and the pictures) and the backdrop at both sides above and below
// the scroller band; the regions the Chromium checks compare with the native frame.
const STILL_REGIONS = [
    ['upper bar', [0, 0, 560, 60], BLACK],
    ['lower bar right of the pictures', [300, 520, 800, 600], BLACK],
    ['backdrop at the left', [5, 75, 60, 120], BACKDROP],
    ['backdrop at the right', [740, 75, 795, 120], BACKDROP],
    ['backdrop low at the left and right', [740, 440, 795, 500], BACKDROP],
];
// The three snowflakes swing in the upper right; nothing white is drawn in the upper left.
const SNOWFLAKE_BOX = [560, 0, 800, 70];
const NO_WHITE_BOX = [0, 0, 400, 170];
const MIN_FLAKE_PIXELS = 50;
// The recording proves sound reached the server when this much of it is not silent, this loud at least.
const MIN_SOUND_SECONDS = 2;
const MIN_PEAK = 1000;
// Everything, one build after the other, ends by then even when the browser hangs.
const DEADLINE_SECONDS = 120;
const DEADLINE_SECONDS_PER_BUILD = 150;

const BUILDS = {
    threads: {isolated: true, serving: 'served with the isolation headers'},
    single: {isolated: false, serving: 'served without the isolation headers or the service worker'},
};

const OPENING = "!document.getElementById('opening').hidden";
const DIALOG_OPEN = "document.getElementById('dialog').open";
const ENDED = "!document.getElementById('ending').hidden";

const results = [];   // [status, name, detail]
const figures = [];   // [name, value]

function record(status, name, detail = '') {
    results.push([status, name, detail]);
    console.log(`${status}: ${name}${detail ? ' (' + detail + ')' : ''}`);
}

function check(condition, name, detail = '') {
    record(condition ? 'PASS' : 'FAIL', name, detail);
    return condition;
}

const sleep = seconds => new Promise(resolve => setTimeout(resolve, seconds * 1000));

// ---- Images -----------------------------------------------------------------------------------------------

// An 8-bit RGB or RGBA PNG (as Firefox's screenshots are) to {width, height, pixel(x, y) -> [r, g, b]}.
function decodePng(data) {
    if (!data.subarray(0, 8).equals(Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]))) {
        throw new Error('the screenshot is no PNG');
    }
    let width = 0, height = 0, channels = 0;
    const idat = [];
    for (let pos = 8; pos + 8 <= data.length;) {
        const length = data.readUInt32BE(pos);
        const kind = data.toString('latin1', pos + 4, pos + 8);
        const body = data.subarray(pos + 8, pos + 8 + length);
        if (kind === 'IHDR') {
            width = body.readUInt32BE(0);
            height = body.readUInt32BE(4);
            const [depth, colour, , , interlace] = body.subarray(8, 13);
            if (depth !== 8 || (colour !== 2 && colour !== 6) || interlace !== 0) {
                throw new Error(`unsupported PNG layout (depth ${depth}, colour type ${colour})`);
            }
            channels = colour === 2 ? 3 : 4;
        } else if (kind === 'IDAT') {
            idat.push(body);
        }
        pos += 12 + length;
    }
    const raw = zlib.inflateSync(Buffer.concat(idat));
    const stride = width * channels;
    if (channels === 0 || raw.length < height * (stride + 1)) {
        throw new Error('the screenshot PNG is incomplete');
    }
    const pixels = Buffer.alloc(height * stride);
    for (let y = 0; y < height; y++) {
        const filter = raw[y * (stride + 1)];
        const line = raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1));
        const out = y * stride;
        for (let i = 0; i < stride; i++) {
            const a = i >= channels ? pixels[out + i - channels] : 0;
            const b = y > 0 ? pixels[out - stride + i] : 0;
            const c = i >= channels && y > 0 ? pixels[out - stride + i - channels] : 0;
            let predicted = 0;
            if (filter === 1) {
                predicted = a;
            } else if (filter === 2) {
                predicted = b;
            } else if (filter === 3) {
                predicted = (a + b) >> 1;
            } else if (filter === 4) {
                const p = a + b - c, pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
                predicted = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
            }
            pixels[out + i] = (line[i] + predicted) & 255;
        }
    }
    const pixel = (x, y) => Array.from(pixels.subarray(y * stride + x * channels, y * stride + x * channels + 3));
    return {width, height, pixel};
}

// The screenshot's pixels that show a box of the 800 x 600 frame, where the canvas's picture lies on the
// page (content: its box in screenshot pixels), less a pixel at each edge that scaling blends with the
// neighbours.
function* framePixels(shot, content, [x0, y0, x1, y1]) {
    const sx = content.width / 800, sy = content.height / 600;
    const left = Math.max(0, Math.ceil(content.x + x0 * sx) + 1);
    const right = Math.min(shot.width, Math.floor(content.x + x1 * sx) - 1);
    const top = Math.max(0, Math.ceil(content.y + y0 * sy) + 1);
    const bottom = Math.min(shot.height, Math.floor(content.y + y1 * sy) - 1);
    for (let y = top; y < bottom; y++) {
        for (let x = left; x < right; x++) {
            yield shot.pixel(x, y);
        }
    }
}

function shareOfColour(shot, content, box, colour) {
    let hits = 0, all = 0;
    for (const rgb of framePixels(shot, content, box)) {
        all++;
        if (rgb.every((v, i) => Math.abs(v - colour[i]) <= COLOUR_TOLERANCE)) {
            hits++;
        }
    }
    return all > 0 ? hits / all : 0;
}

function whitePixels(shot, content, box) {
    let count = 0;
    for (const rgb of framePixels(shot, content, box)) {
        if (Math.min(...rgb) >= 235) {
            count++;
        }
    }
    return count;
}

// ---- Processes: the servers of the site and the sound server ----------------------------------------------

// Ends a process this script started (by its id), waiting up to 5 s before a hard kill.
async function stopProcess(child) {
    if (child.exitCode !== null || child.signalCode !== null) {
        return;
    }
    const gone = new Promise(resolve => child.once('exit', resolve));
    child.kill('SIGTERM');
    if (await Promise.race([gone.then(() => true), sleep(5).then(() => false)]) === false) {
        child.kill('SIGKILL');
        await gone;
    }
}

// Serves a folder on 127.0.0.1 at a free port: web/serve.sh (isolating) or Python's plain server.
async function startServer(folder, isolating, children) {
    const command = isolating ? ['bash', [path.join(ROOT, 'web', 'serve.sh'), '0', folder]]
        : ['python3', ['-u', '-m', 'http.server', '--bind', '127.0.0.1', '--directory', folder, '0']];
    const child = spawn(command[0], command[1], {stdio: ['ignore', 'pipe', 'ignore']});
    children.push(child);
    const line = await new Promise(resolve => {
        let text = '';
        const timer = setTimeout(() => resolve(text), 15000);
        child.stdout.on('data', chunk => {
            text += chunk;
            if (text.includes('\n')) {
                clearTimeout(timer);
                resolve(text);
            }
        });
        child.once('exit', () => resolve(text));
    });
    const match = /(?:127\.0\.0\.1:|port )(\d+)/.exec(line);
    if (!match) {
        throw new Error(`the server printed no address: ${JSON.stringify(line)}`);
    }
    child.stdout.resume();
    return `http://127.0.0.1:${match[1]}/`;
}

// A copy of the site without its service worker, for a server without the isolation headers.
function siteWithoutServiceWorker(site, work) {
    const folder = path.join(work, 'site-without-sw');
    fs.cpSync(site, folder, {recursive: true});
    fs.rmSync(path.join(folder, 'sw.js'), {force: true});
    return folder;
}

function startSoundServer(folder) {
    fs.mkdirSync(folder);
    const started = spawnSync('bash', [PULSE_SINK, 'start', folder, String(process.pid)],
        {encoding: 'utf8', timeout: 30000});
    if (started.status !== 0) {
        throw new Error(`the sound server did not start: ${(started.stderr || '').trim()}`);
    }
    const settings = {};
    for (const line of started.stdout.split('\n')) {
        const at = line.indexOf('=');
        if (at > 0) {
            settings[line.substring(0, at)] = line.substring(at + 1);
        }
    }
    return settings;
}

function stopSoundServer(folder) {
    if (fs.existsSync(path.join(folder, 'pulseaudio.pid'))) {
        spawnSync('bash', [PULSE_SINK, 'stop', folder], {stdio: 'ignore', timeout: 30000});
    }
}

// What the sink's monitor recorded from byte `from` on: seconds, seconds not silent and the peak.
function recordedSound(recording, from) {
    const data = fs.readFileSync(recording).subarray(from);
    let loud = 0, peak = 0;
    for (let i = 0; i + 4 <= data.length; i += 4) {
        const left = data.readInt16LE(i), right = data.readInt16LE(i + 2);
        if (left !== 0 || right !== 0) {
            loud++;
        }
        peak = Math.max(peak, Math.abs(left), Math.abs(right));
    }
    return {seconds: data.length / BYTES_PER_SECOND, soundSeconds: loud * 4 / BYTES_PER_SECOND, peak};
}

// ---- The page ---------------------------------------------------------------------------------------------

// Waits until the expression holds in the page; the seconds it took, or null after `seconds`.
async function waitFor(page, expression, seconds) {
    const start = performance.now();
    try {
        await page.waitForFunction(expression, {timeout: seconds * 1000, polling: 100});
        return (performance.now() - start) / 1000;
    } catch (error) {
        if (error.name === 'TimeoutError') {
            return null;
        }
        throw error;
    }
}

// The played count over RATE_SECONDS against the wall clock. A count that follows the browser's audio
// clock while that clock fell behind real time means the busy host held back the browser's audio thread:
// that is measured once more, and then a skip with the figures, never a pass.
async function checkAudioRate(page, label) {
    const name = `${label} the played count advances at 176,400 bytes a second within 5 %`;
    for (let attempt = 1; ; attempt++) {
        const [[b0, t0, c0], [b1, t1, c1]] = await page.evaluate(async seconds => {
            const context = window.tarnwickPage.audioContext;
            const now = () => [window.tarnwickPage.playedBytesNow(), performance.now(), context.currentTime];
            const first = now();
            await new Promise(resolve => setTimeout(resolve, seconds * 1000));
            return [first, now()];
        }, RATE_SECONDS);
        const wall = (t1 - t0) / 1000;
        const rate = (b1 - b0) / wall;
        const clock = (c1 - c0) / wall;
        const detail = `${rate.toFixed(0)} bytes/s over ${wall.toFixed(2)} s; ` +
            `the audio clock ran at ${clock.toFixed(3)} of real time`;
        if (Math.abs(rate / BYTES_PER_SECOND - 1) <= RATE_TOLERANCE) {
            figures.push([`${label} played bytes per second`, rate.toFixed(0)]);
            record('PASS', name, detail);
            return;
        }
        if (Math.abs(clock - 1) <= RATE_TOLERANCE || Math.abs(rate / (clock * BYTES_PER_SECOND) - 1) > RATE_TOLERANCE) {
            figures.push([`${label} played bytes per second`, rate.toFixed(0)]);
            record('FAIL', name, detail);
            return;
        }
        if (attempt === 2) {
            figures.push([`${label} played bytes per second`, `${rate.toFixed(0)} (the audio clock held back)`]);
            record('SKIP', `${label} played count rate: the host held back the browser's audio thread twice`, detail);
            return;
        }
        record('INFO', `${label} the host held back the browser's audio thread; measured again`, detail);
    }
}

// Where the canvas's picture lies in the viewport, in screenshot pixels: its box, less what object-fit:
// contain leaves empty around a drawing buffer of another shape.
const CANVAS_PICTURE = `(() => {
    const canvas = document.getElementById('canvas');
    if (!canvas) {
        return null;
    }
    const box = canvas.getBoundingClientRect();
    const scale = Math.min(box.width / canvas.width, box.height / canvas.height);
    const width = canvas.width * scale, height = canvas.height * scale;
    return {x: box.x + (box.width - width) / 2, y: box.y + (box.height - height) / 2, width, height,
            buffer: [canvas.width, canvas.height], viewport: [innerWidth, innerHeight]};
})()`;

async function checkScene(page, label) {
    const picture = await page.evaluate(CANVAS_PICTURE);
    const shot = decodePng(Buffer.from(await page.screenshot({encoding: 'base64'}), 'base64'));
    // Screenshot pixels per CSS pixel (1 but on a scaled screen).
    const ratio = picture !== null ? shot.width / picture.viewport[0] : 1;
    const content = picture === null ? null : {x: picture.x * ratio, y: picture.y * ratio,
                                               width: picture.width * ratio, height: picture.height * ratio};
    const where = content === null ? 'no canvas' : `its ${picture.buffer.join(' x ')} drawing buffer shown ` +
        `${Math.round(content.width)} x ${Math.round(content.height)} at (${Math.round(content.x)}, ` +
        `${Math.round(content.y)}) of a ${shot.width} x ${shot.height} screenshot`;
    if (!check(content !== null && content.width >= 100, `${label} the canvas is on the screen`, where)) {
        return;
    }
    for (const [name, box, colour] of STILL_REGIONS) {
        const share = shareOfColour(shot, content, box, colour);
        check(share >= REGION_MATCH, `${label} the canvas shows the ${name}`,
            `${(100 * share).toFixed(1)} % of the pixels are ${colour.join(', ')}`);
    }
    const flakes = whitePixels(shot, content, SNOWFLAKE_BOX);
    const stray = whitePixels(shot, content, NO_WHITE_BOX);
    check(flakes >= MIN_FLAKE_PIXELS && stray === 0, `${label} white snowflake pixels in the upper right only`,
        `${flakes} there, ${stray} in the upper left`);
}

// Clicks the opening screen, as a person does; a refused fullscreen is answered Yes (go on in a window).
// Whether the greeting then runs fullscreen, or null when no frame came.
async function openGreeting(page, label) {
    await page.click('#opening');
    if (await waitFor(page, `tarnwick.frames > 0 || ${DIALOG_OPEN}`, 30) === null) {
        return null;
    }
    if (await page.evaluate(DIALOG_OPEN)) {
        const caption = await page.evaluate("document.getElementById('dialog-caption').textContent");
        record('INFO', `${label} the browser refused fullscreen: the intro asked "${caption}" and was answered Yes`);
        await page.click('#dialog-yes');
        if (await waitFor(page, 'tarnwick.frames > 0', 30) === null) {
            return null;
        }
    }
    return page.evaluate('!!document.fullscreenElement');
}

// Esc ends the greeting. Firefox keeps the first Esc in fullscreen to itself, to leave fullscreen (which
// the page counts as F1): a key the page did not see is pressed again.
async function endWithEscape(page, label) {
    await page.evaluate("window.escapesSeen = 0; " +
                        "addEventListener('keydown', e => { if (e.code === 'Escape') escapesSeen++; }, true)");
    await page.keyboard.press('Escape');
    if (await waitFor(page, ENDED, 10) === null && await page.evaluate('escapesSeen') === 0) {
        record('INFO', `${label} Firefox kept the first Esc from the page (to leave fullscreen); pressed again`);
        await sleep(0.5);
        await page.keyboard.press('Escape');
    }
    const ended = await waitFor(page, ENDED, 10) !== null;
    const [code, seen] = await page.evaluate('[tarnwick.exitCode, escapesSeen]');
    check(ended && code === 0, `${label} Esc ends the greeting on the end screen with exit code 0`,
        `exit code ${code}, Esc seen by the page ${seen} times`);
}

async function checkBuild(browser, name, url, recording) {
    const build = BUILDS[name];
    const label = `[${name}]`;
    const page = await browser.newPage();
    const consoleErrors = [];
    page.on('console', message => {
        if (message.type() === 'error') {
            consoleErrors.push(message.text());
        }
    });
    page.on('pageerror', error => consoleErrors.push(String(error)));
    try {
        record('INFO', `${label} ${url}, ${build.serving}`);
        await page.goto(url);
        const loaded = await waitFor(page, `${OPENING} || (window.tarnwick && tarnwick.error !== null)`, 60);
        const [isolated, error, shown] = await page.evaluate(
            `[crossOriginIsolated, window.tarnwick ? tarnwick.error : 'no tarnwick', ${OPENING}]`);
        check(isolated === build.isolated, `${label} the page is ${build.isolated ? '' : 'not '}cross-origin isolated`,
            `crossOriginIsolated ${isolated}`);
        if (!check(loaded !== null && shown, `${label} the page loads and shows the opening screen`,
            shown ? `${loaded.toFixed(2)} s` : `tarnwick.error ${error}`)) {
            return;
        }
        figures.push([`${label} load to the opening screen`, `${loaded.toFixed(2)} s`]);
        const says = await page.evaluate("'build' in tarnwick ? tarnwick.build : null");
        if (says === null) {
            record('INFO', `${label} the page does not say which build it runs (no tarnwick.build)`);
        } else {
            check(says === name, `${label} tarnwick.build is '${name}'`, `'${says}'`);
        }

        const from = fs.statSync(recording).size & ~3;
        const clicked = performance.now();
        const fullscreen = await openGreeting(page, label);
        if (!check(fullscreen !== null, `${label} a click starts the greeting`,
            fullscreen === null ? 'no frame in 30 s' : fullscreen ? 'fullscreen' : 'in a window')) {
            return;
        }
        figures.push([`${label} click to the first frame`, `${((performance.now() - clicked) / 1000).toFixed(2)} s`]);
        const frames = await page.evaluate('tarnwick.frames');
        await sleep(2);
        const later = await page.evaluate('tarnwick.frames');
        check(later > frames, `${label} tarnwick.frames grows`, `${frames}, then ${later} 2 s later`);
        figures.push([`${label} frames per second`, ((later - frames) / 2).toFixed(1)]);
        const running = await waitFor(page, "tarnwick.audio.state === 'running'", 5) !== null;
        check(running, `${label} the audio state is "running"`, await page.evaluate('tarnwick.audio.state'));
        await checkAudioRate(page, label);
        await checkScene(page, label);
        await endWithEscape(page, label);
        check(consoleErrors.length === 0, `${label} no console error on the way`, consoleErrors.slice(0, 3).join('; '));
        // What parec took from the sink's monitor while the greeting played (it hands it on within 50 ms).
        await sleep(0.5);
        const sound = recordedSound(recording, from);
        figures.push([`${label} recorded from the sink's monitor`, `${sound.seconds.toFixed(1)} s, ` +
            `${sound.soundSeconds.toFixed(1)} s of it not silent, peak ${sound.peak}`]);
        check(sound.soundSeconds >= MIN_SOUND_SECONDS && sound.peak >= MIN_PEAK,
            `${label} the song reached the sound server`, `${sound.soundSeconds.toFixed(1)} s of sound in ` +
            `${sound.seconds.toFixed(1)} s recorded, peak ${sound.peak}`);
    } finally {
        await page.close().catch(() => {});
    }
}

// ---- The run ----------------------------------------------------------------------------------------------

const cleanups = [];   // run last first, once each, whatever happened

async function cleanUp() {
    while (cleanups.length > 0) {
        try {
            await cleanups.pop()();
        } catch (error) {
            console.log(`(cleaning up: ${error.message})`);
        }
    }
}

async function run(site, builds) {
    if (!process.env.DISPLAY) {
        throw new Error('no DISPLAY: run this under Xvfb (xvfb-run -a -s "-screen 0 1024x768x24")');
    }
    if (!fs.existsSync(path.join(site, 'index.html'))) {
        throw new Error(`no site in ${site}: build it with web/build.sh`);
    }
    const work = fs.mkdtempSync(path.join(os.tmpdir(), 'tw_firefox_test_'));
    cleanups.push(() => fs.rmSync(work, {recursive: true, force: true}));
    const children = [];
    cleanups.push(() => Promise.all(children.map(stopProcess)));
    const pulse = path.join(work, 'pulse');
    cleanups.push(() => stopSoundServer(pulse));
    const sound = startSoundServer(pulse);

    const urls = {};
    for (const name of builds) {
        urls[name] = await startServer(BUILDS[name].isolated ? site : siteWithoutServiceWorker(site, work),
            BUILDS[name].isolated, children);
    }
    const profile = path.join(work, 'profile');
    fs.mkdirSync(profile);
    const launched = performance.now();
    const browser = await puppeteer.launch({
        browser: 'firefox',
        executablePath: FIREFOX,
        headless: false,
        userDataDir: profile,
        env: {...process.env, ...sound, MOZ_CRASHREPORTER_DISABLE: '1'},
        // Sound through PulseAudio only: with no server reached Firefox would try ALSA, which this machine
        // cannot play through either, and the failure would show in fewer words.
        extraPrefsFirefox: {'media.cubeb.backend': 'pulse'},
        handleSIGINT: false,
        handleSIGTERM: false,
        handleSIGHUP: false,
        timeout: 90000,
        protocolTimeout: 60000,
    });
    cleanups.push(async () => {
        const closed = browser.close().then(() => true, () => false);
        if (!await Promise.race([closed, sleep(15).then(() => false)])) {
            browser.process()?.kill('SIGKILL');
        }
    });
    record('INFO', `${await browser.version()} started in ${((performance.now() - launched) / 1000).toFixed(1)} s`);
    for (const name of builds) {
        await checkBuild(browser, name, urls[name], path.join(pulse, 'monitor.raw'));
    }
}

function summary(began) {
    for (const [name, value] of figures) {
        console.log(`figure: ${name}: ${value}`);
    }
    const count = status => results.filter(r => r[0] === status).length;
    console.log(`Firefox checks took ${((performance.now() - began) / 1000).toFixed(0)} s`);
    console.log(`firefox: ${count('PASS')} passed, ${count('FAIL')} failed, ${count('SKIP')} skipped`);
    return count('FAIL') > 0 || count('PASS') === 0 ? 1 : 0;
}

async function main() {
    const [site, ...named] = process.argv.slice(2);
    const builds = named.length > 0 ? named : ['threads'];
    if (!site || builds.some(name => !(name in BUILDS))) {
        console.log('Usage: firefox_test.mjs SITE [BUILD...]  (BUILD: threads or single; run under Xvfb)');
        return 2;
    }
    const began = performance.now();
    // A signal or a browser that hangs past the deadline ends the run through the same clean-up.
    let stopping = false;
    const stop = async reason => {
        if (stopping) {
            return;
        }
        stopping = true;
        record('FAIL', 'the Firefox checks ran to their end', reason);
        await cleanUp();
        summary(began);
        process.exit(1);
    };
    for (const signal of ['SIGINT', 'SIGTERM', 'SIGHUP']) {
        process.on(signal, () => stop(`ended by ${signal}`));
    }
    const limit = DEADLINE_SECONDS + DEADLINE_SECONDS_PER_BUILD * builds.length;
    const deadline = setTimeout(() => stop(`not done after ${limit} s`), limit * 1000);
    try {
        await run(path.resolve(site), builds);
    } catch (error) {   // a broken run is a failure with its reason, never a silent pass
        if (!stopping) {
            record('FAIL', 'the Firefox checks ran to their end', `${error.name}: ${error.message}`);
        }
    }
    clearTimeout(deadline);
    if (stopping) {
        return 1;
    }
    await cleanUp();
    return summary(began);
}

process.exitCode = await main();
