#!/usr/bin/env python3
"""The greeting in headless Chromium, in one browser session: the site web/build.sh made, served by
web/serve.sh, opened and driven through the DevTools protocol.

Checks: the page loads with no console error; after the click the canvas shows the scene (bars, backdrop,
snowflakes, both pictures, region by region against the native frame); the frame count grows; the audio
runs and its played count advances at 176,400 bytes a second; the worklet's first 10 s equal xmrender's
first 10 s byte for byte; F1 and the browser's own exit from fullscreen switch to the 640 x 480 canvas and
back; Esc ends on the end screen; a refused fullscreen asks the intro's question in the dialog; #greeting=
reaches the program's --greeting and its warnings and errors show in the dialog; a site
without l1.bmp shows the loader's message in the dialog; a server
without the isolation headers is mended by the page's service worker, and without it the page says so; a
browser without WebGL or AudioWorklet, a missing data pack and a page opened from a file say so too.

Usage: browser_test.py SITE NATIVE_BUILD   (run under Xvfb: the native frame needs a display)
SITE is build-web/site, NATIVE_BUILD the native build with xmrender and scene_frames_gl. Prints one line per
check and the figures measured; exit 0 when nothing failed (skips are reported with their reasons)."""
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zlib

sys.dont_write_bytecode = True   # no caches left in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'windows'))
import cdp  # noqa: E402
from check_audio import wav_pcm  # noqa: E402

ROOT = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..'))
BYTES_PER_SECOND = 44100 * 4
CAPTURE_BYTES = 10 * BYTES_PER_SECOND
RATE_TOLERANCE = 0.05
# The native frame is drawn in 16-bit colour, the browser's in 24-bit: colours agree within this.
COLOUR_TOLERANCE = 10
REGION_MATCH = 0.98
# A streaming thread kept from running for most of the ring's 2 s has been starved by the host.
STALL_MS = 1500

results = []   # (status, name, detail)
figures = []


def record(status, name, detail=''):
    results.append((status, name, detail))
    print('%s: %s%s' % (status, name, (' (' + detail + ')') if detail else ''), flush=True)


def check(condition, name, detail=''):
    record('PASS' if condition else 'FAIL', name, detail)
    return condition


# ---- Images ----------------------------------------------------------------------------------------------

def decode_png(data):
    """8-bit RGB or RGBA PNG (as Chromium's screenshots are) to (width, height, rows of (r, g, b))."""
    if data[:8] != b'\x89PNG\r\n\x1a\n':
        raise ValueError('not a PNG')
    pos = 8
    idat = b''
    width = height = colour = 0
    while pos < len(data):
        length, kind = struct.unpack('>I4s', data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b'IHDR':
            width, height, depth, colour, _, _, interlace = struct.unpack('>IIBBBBB', body)
            if depth != 8 or colour not in (2, 6) or interlace != 0:
                raise ValueError('unsupported PNG layout')
        elif kind == b'IDAT':
            idat += body
        pos += 12 + length
    channels = 3 if colour == 2 else 4
    raw = zlib.decompress(idat)
    stride = width * channels
    rows = []
    previous = bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b = previous[i]
            c = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append([tuple(line[x * channels:x * channels + 3]) for x in range(width)])
        previous = line
    return width, height, rows


def native_frame(native_build, work):
    """The scene's first frame at 800 x 600 drawn natively by scene_frames_gl (rows top first)."""
    program = os.path.join(native_build, 'tests', 'gles', 'scene_frames_gl')
    out = os.path.join(work, 'native.frames')
    subprocess.run([program, out], cwd=ROOT, check=True, timeout=120, stdout=subprocess.DEVNULL)
    data = open(out, 'rb').read()
    width, height, number = struct.unpack_from('<iii', data, 4)
    if (width, height, number) != (800, 600, 1):
        raise ValueError('the native frames do not start with frame 1 at 800 x 600')
    pixels = data[16:16 + width * height * 4]
    rows = []
    for y in range(height - 1, -1, -1):   # stored bottom row first
        line = pixels[y * width * 4:(y + 1) * width * 4]
        rows.append([tuple(line[x * 4:x * 4 + 3]) for x in range(width)])
    return width, height, rows


def region_match(a, b, box):
    """Share of the pixels in box (x0, y0, x1, y1) that agree within COLOUR_TOLERANCE."""
    x0, y0, x1, y1 = box
    hits = 0
    for y in range(y0, y1):
        for x in range(x0, x1):
            if all(abs(p - q) <= COLOUR_TOLERANCE for p, q in zip(a[2][y][x], b[2][y][x])):
                hits += 1
    return hits / float((x1 - x0) * (y1 - y0))


def white_pixels(frame, box):
    x0, y0, x1, y1 = box
    return sum(1 for y in range(y0, y1) for x in range(x0, x1) if min(frame[2][y][x]) >= 235)


# Regions of an 800 x 600 frame (x0, y0, x1, y1, top row first) that look the same in every frame: the bars
# (but for the snowflakes and the pictures), the backdrop at both sides above and below the scroller band,
# and the two pictures with the bar around them.
STILL_REGIONS = {
    'upper bar': (0, 0, 560, 60),
    'lower bar right of the pictures': (300, 520, 800, 600),
    'backdrop at the left': (5, 75, 60, 120),
    'backdrop at the right': (740, 75, 795, 120),
    'backdrop low at the left and right': (740, 440, 795, 500),
    'pictures': (0, 505, 300, 600),
}
SNOWFLAKE_BOX = (560, 0, 800, 70)


# ---- Servers ---------------------------------------------------------------------------------------------

class Server:
    """A server of a folder on 127.0.0.1 at a free port: web/serve.sh (isolating) or Python's plain one."""

    def __init__(self, folder, isolating=True):
        if isolating:
            command = ['bash', os.path.join(ROOT, 'web', 'serve.sh'), '0', folder]
        else:
            command = [sys.executable, '-u', '-m', 'http.server', '--bind', '127.0.0.1', '--directory', folder, '0']
        self.process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        line = self.process.stdout.readline()
        match = re.search(r'(?:127\.0\.0\.1:|port )(\d+)', line)
        if not match:
            self.close()
            raise RuntimeError('the server printed no address: %r' % line)
        self.url = 'http://127.0.0.1:%s/' % match.group(1)

    def close(self):
        cdp.stop_process(self.process)


def site_variant(site, work, name, leave_out_data=None, drop=()):
    """A copy of the site, its data pack made without the file given, or without the site files given."""
    folder = os.path.join(work, name)
    shutil.copytree(site, folder)
    if leave_out_data is not None:
        subprocess.run([sys.executable, os.path.join(ROOT, 'web', 'pack_data.py'), os.path.join(ROOT, 'data'),
                        os.path.join(folder, 'data.pack'), '--leave-out', leave_out_data], check=True)
    for file in drop:
        os.remove(os.path.join(folder, file))
    return folder


# ---- The page --------------------------------------------------------------------------------------------

FULLSCREEN_QUESTION = ('The Requested Fullscreen Mode Is Not Supported By\nYour Video Card. '
                       'Use Windowed Mode Instead?')
# A greeting in the address: Cyrillic as the browser sends it (percent-encoded UTF-8) and raw, encoded spaces,
# and a euro sign, which has no glyph. One with a byte that is no UTF-8 at all goes through as it is, for the
# program to refuse.
GREETING_FRAGMENT = '%D0%A1%20%D0%9D%D0%BE%D0%B2%D1%8B%D0%BC%20годом!%20%E2%82%AC'
GREETING_BYTES = 'С Новым годом! €'.encode()
GREETING_BLANKS = 'the greeting #greeting has characters without a glyph, shown as blanks: U+20AC €'
GREETING_NOT_UTF8 = 'the greeting #greeting is not UTF-8 text (line 1)'
OPENING = "!document.getElementById('opening').hidden"
DIALOG_OPEN = "document.getElementById('dialog').open"
ENDED = "!document.getElementById('ending').hidden"
CANVAS_SIZE = ("(() => { const c = document.getElementById('canvas'); "
               "return c ? [c.width, c.height, !!document.fullscreenElement] : null; })()")


def answer_dialog(page, button):
    page.evaluate("document.getElementById('%s').click()" % button)


def open_greeting(page):
    """Clicks the opening screen; a refused fullscreen is answered Yes (go on in a window). Returns whether
    the intro started fullscreen."""
    page.click(400, 300)
    started = page.wait_for("tarnwick.frames > 0 || %s" % DIALOG_OPEN, 30)
    if started is None:
        return None
    if page.evaluate(DIALOG_OPEN):
        caption = page.evaluate("document.getElementById('dialog-caption').textContent")
        record('INFO', 'fullscreen refused by the browser: the intro asked "%s" and was answered Yes' % caption)
        answer_dialog(page, 'dialog-yes')
        page.wait_for("tarnwick.frames > 0", 30)
    return bool(page.evaluate("!!document.fullscreenElement"))


def check_scene(page, native):
    shot = decode_png(page.screenshot_png())
    if not check(shot[0] == 800 and shot[1] == 600, 'the fullscreen canvas fills the 800 x 600 screen',
                 '%d x %d' % shot[:2]):
        return
    for name, box in STILL_REGIONS.items():
        share = region_match(shot, native, box)
        check(share >= REGION_MATCH, 'the canvas shows the %s as the native frame does' % name,
              '%.1f %% of the pixels agree' % (100 * share))
    flakes = white_pixels(shot, SNOWFLAKE_BOX)
    check(flakes >= 50 and white_pixels(shot, (0, 0, 400, 170)) == 0,
          'white snowflake pixels in the upper right only', '%d there, native %d' %
          (flakes, white_pixels(native, SNOWFLAKE_BOX)))


def check_audio_rate(page):
    sample = page.evaluate(
        "(async () => { const ctx = tarnwickPage.audioContext;"
        " const now = () => [tarnwickPage.playedBytesNow(), performance.now(), ctx.currentTime];"
        " const a = now(); await new Promise(r => setTimeout(r, 5000)); return [a, now()]; })()",
        await_promise=True, timeout=30)
    (b0, t0, c0), (b1, t1, c1) = sample
    wall = (t1 - t0) / 1000.0
    rate = (b1 - b0) / wall
    clock = (c1 - c0) / wall
    detail = '%.0f bytes/s over %.2f s; the audio clock ran at %.3f of real time' % (rate, wall, clock)
    figures.append(('played bytes per second', '%.0f' % rate))
    if abs(rate / BYTES_PER_SECOND - 1.0) <= RATE_TOLERANCE:
        record('PASS', 'playedBytes advances at 176,400 bytes a second within 5 %', detail)
    elif abs(clock - 1.0) > RATE_TOLERANCE and abs(rate / (clock * BYTES_PER_SECOND) - 1.0) <= RATE_TOLERANCE:
        # The count follows the browser's audio clock, which the busy host held back.
        record('SKIP', 'playedBytes rate: the host held back the browser\'s audio thread', detail)
    else:
        record('FAIL', 'playedBytes advances at 176,400 bytes a second within 5 %', detail)


def check_capture(page, xmrender, work):
    if page.wait_for("tarnwickPage.captureBase64() !== null", 40) is None:
        record('FAIL', 'the worklet kept its first 10 s', 'no copy after 40 s')
        return
    import base64
    played = base64.b64decode(page.evaluate("tarnwickPage.captureBase64()", timeout=60))
    render = os.path.join(work, 'render.wav')
    subprocess.run([xmrender, os.path.join(ROOT, 'data', 'glimrook.xm'), render, '--seconds', '10'],
                   check=True, stdout=subprocess.DEVNULL, timeout=120)
    expected = wav_pcm(render)[:CAPTURE_BYTES]
    gap = page.evaluate("tarnwick.audio.longestPollGapMs")
    if played == expected:
        record('PASS', "the worklet's first 10 s equal xmrender's first 10 s byte for byte",
               '%d bytes; longest streaming poll gap %d ms' % (len(played), gap))
        return
    first = next((i for i in range(min(len(played), len(expected))) if played[i] != expected[i]),
                 min(len(played), len(expected)))
    detail = '%d and %d bytes, first difference at byte %d (%.3f s); longest streaming poll gap %d ms' % (
        len(played), len(expected), first, first / float(BYTES_PER_SECOND), gap)
    if gap >= STALL_MS:
        record('SKIP', "worklet against xmrender: the host starved the streaming thread", detail)
    else:
        record('FAIL', "the worklet's first 10 s equal xmrender's first 10 s byte for byte", detail)


def canvas_becomes(page, width, height, fullscreen, timeout=10):
    want = json.dumps([width, height, fullscreen], separators=(',', ':'))
    return page.wait_for("JSON.stringify(%s) === '%s'" % (CANVAS_SIZE, want), timeout) is not None


def press_f1(page):
    """F1; a fullscreen the browser refuses brings the intro's question, answered Yes. True if it came."""
    page.press('F1', 'F1', 0x70)
    if page.wait_for("%s || !!document.fullscreenElement" % DIALOG_OPEN, 2) is not None and \
            page.evaluate(DIALOG_OPEN):
        answer_dialog(page, 'dialog-yes')
        return True
    return False


def check_toggles(page, fullscreen):
    """F1 to the other mode and back, then the browser's own exit from fullscreen, which counts as F1."""
    frames = page.evaluate("tarnwick.frames")
    if not fullscreen:
        press_f1(page)
        check(canvas_becomes(page, 640, 480, False), 'F1 opens the 640 x 480 canvas')
        record('SKIP', 'F1 back to fullscreen and leaving it through the browser', 'the browser refuses fullscreen')
        return
    press_f1(page)
    check(canvas_becomes(page, 640, 480, False), 'F1 switches from fullscreen to the 640 x 480 canvas',
          'now %s' % page.evaluate(CANVAS_SIZE))
    check(page.wait_for("tarnwick.frames > %d" % (frames + 10), 10) is not None, 'frames go on after F1')
    if press_f1(page):
        record('SKIP', 'F1 back to fullscreen and leaving it through the browser',
               'the browser refused fullscreen on F1')
        return
    check(canvas_becomes(page, 640, 480, True), 'F1 switches back to fullscreen (a 640 x 480 drawing buffer)',
          'now %s' % page.evaluate(CANVAS_SIZE))
    page.evaluate("document.exitFullscreen()")
    check(canvas_becomes(page, 640, 480, False), 'leaving fullscreen through the browser counts as F1',
          'now %s' % page.evaluate(CANVAS_SIZE))


def run(site, native_build):
    xmrender = os.path.join(native_build, 'tools', 'xmrender', 'xmrender')
    work = tempfile.mkdtemp(prefix='tw_web_test_')
    servers = []
    browser = None
    try:
        native = native_frame(native_build, work)
        main = Server(site)
        servers.append(main)
        # Sound without a user's gesture too, for the page opened by a script's click below.
        browser = cdp.Browser(extra_flags=['--autoplay-policy=no-user-gesture-required'])

        # ---- The greeting, from loading to its end
        page = browser.new_page()
        start = time.monotonic()
        page.navigate(main.url + '?test')
        loaded = page.wait_for(OPENING, 60)
        if not check(loaded is not None, 'the page loads and offers to open the greeting',
                     'tarnwick.error %s' % page.evaluate("window.tarnwick && tarnwick.error") if loaded is None
                     else '%.2f s' % loaded):
            return
        figures.append(('load to the opening screen', '%.2f s' % loaded))
        check(page.evaluate("crossOriginIsolated") is True, 'the page is cross-origin isolated')
        clicked = time.monotonic()
        fullscreen = open_greeting(page)
        first_frame = time.monotonic()
        if not check(fullscreen is not None, 'the click starts the intro',
                     'no frame in 30 s' if fullscreen is None else 'fullscreen' if fullscreen else 'in a window'):
            return
        figures.append(('click to first frame', '%.2f s' % (first_frame - clicked)))
        figures.append(('load to first frame (with the click)', '%.2f s' % (first_frame - start)))
        frames = page.evaluate("tarnwick.frames")
        page.pump(2.0)
        check(page.evaluate("tarnwick.frames") > frames, 'tarnwick.frames grows',
              '%d, then %d 2 s later' % (frames, page.evaluate("tarnwick.frames")))
        if fullscreen:
            check_scene(page, native)
        else:
            record('SKIP', 'the scene against the native frame', 'the browser refused fullscreen')
        check(page.evaluate("tarnwick.audio.state") == 'running', 'the audio state is "running"')
        check_audio_rate(page)
        check_capture(page, xmrender, work)
        check_toggles(page, fullscreen)
        # Just after leaving fullscreen the browser itself may still take an Esc as "leave fullscreen" and
        # never hand it to the page: a key the page did not see is pressed again.
        page.evaluate("window.escapesSeen = 0; addEventListener('keydown', "
                      "e => { if (e.code === 'Escape') escapesSeen++; }, true)")
        page.pump(0.5)
        page.press('Escape', 'Escape', 0x1B)
        if page.wait_for(ENDED, 10) is None and page.evaluate("escapesSeen") == 0:
            record('INFO', 'the browser kept the first Esc from the page; pressed again')
            page.press('Escape', 'Escape', 0x1B)
        check(page.wait_for(ENDED, 10) is not None and page.evaluate("tarnwick.exitCode") == 0,
              'Esc ends the intro on the end screen', 'exit code %s, Esc seen by the page %s times' % (
                  page.evaluate("tarnwick.exitCode"), page.evaluate("escapesSeen")))
        check(page.wait_for("tarnwick.audio.state === 'closed'", 5) is not None, 'the audio is closed at the end')
        check(not page.console_errors, 'no console error on the way', '; '.join(page.console_errors[:3]))

        # ---- Fullscreen refused (opened without a user's click, so the browser says no): the intro's own
        # question as a dialog; Yes goes on in an 800 x 600 canvas. The address carries a greeting of its own,
        # whose bytes the program gets in the file its --greeting option names.
        page = browser.new_page()
        page.navigate(main.url + '#greeting=' + GREETING_FRAGMENT)
        page.wait_for(OPENING, 60)
        page.evaluate("document.getElementById('opening').click()")   # a script's click: no user activation
        # First the intro's word on the greeting's characters without a glyph, as a box (standard error is
        # the console here, which nobody sees).
        warned = page.wait_for(DIALOG_OPEN, 30) is not None
        caption = page.evaluate("document.getElementById('dialog-caption').textContent")
        text = page.evaluate("document.getElementById('dialog-text').textContent")
        check(warned and caption == 'Tarnwick Rare' and text == GREETING_BLANKS,
              "#greeting= with a character without a glyph: the intro's warning in the dialog",
              '%r: %r' % (caption, text))
        if warned:
            answer_dialog(page, 'dialog-ok')
            page.wait_for("!" + DIALOG_OPEN, 5)
        asked = page.wait_for(DIALOG_OPEN, 30) is not None
        caption = page.evaluate("document.getElementById('dialog-caption').textContent")
        text = page.evaluate("document.getElementById('dialog-text').textContent")
        check(asked and caption == 'Lumo GL' and text == FULLSCREEN_QUESTION,
              'a refused fullscreen asks the intro\'s Yes/No question in the dialog', '%r: %r' % (caption, text))
        if asked:
            answer_dialog(page, 'dialog-yes')
            check(canvas_becomes(page, 800, 600, False) and page.wait_for("tarnwick.frames > 5", 30) is not None,
                  'answered Yes, the intro goes on in an 800 x 600 canvas', 'now %s' % page.evaluate(CANVAS_SIZE))
            given = page.evaluate("Array.from(Module.FS.readFile('#greeting'))")
            check(bytes(given or []) == GREETING_BYTES, "#greeting= reaches the program as its UTF-8 bytes",
                  '%r' % bytes(given or []))
            page.press('Escape', 'Escape', 0x1B)
            page.wait_for(ENDED, 10)

        # ---- A greeting that is not UTF-8: the intro's error in the dialog, and it ends as the intro does
        page = browser.new_page()
        page.navigate(main.url + '#greeting=%FF')
        page.wait_for(OPENING, 60)
        page.click(400, 300)
        shown = page.wait_for(DIALOG_OPEN, 30) is not None
        caption = page.evaluate("document.getElementById('dialog-caption').textContent")
        text = page.evaluate("document.getElementById('dialog-text').textContent")
        check(shown and caption == 'ERROR' and text == GREETING_NOT_UTF8,
              "#greeting= that is not UTF-8: the intro's error in the dialog", '%r: %r' % (caption, text))
        if shown:
            answer_dialog(page, 'dialog-ok')
            check(page.wait_for(ENDED, 10) is not None and page.evaluate("tarnwick.exitCode") == 1,
                  'then the greeting ends with exit code 1, as the intro does',
                  'exit code %s' % page.evaluate("tarnwick.exitCode"))

        # ---- A site without l1.bmp: the loader's message in the dialog, then the greeting goes on
        no_picture = Server(site_variant(site, work, 'no_l1', leave_out_data='l1.bmp'))
        servers.append(no_picture)
        page = browser.new_page()
        page.navigate(no_picture.url)
        page.wait_for(OPENING, 60)
        page.click(400, 300)
        shown = page.wait_for(DIALOG_OPEN, 30) is not None
        caption = page.evaluate("document.getElementById('dialog-caption').textContent")
        text = page.evaluate("document.getElementById('dialog-text').textContent")
        check(shown and caption == 'Error' and text.strip() == 'Failed to open DIB file data/l1.bmp.',
              'a site without l1.bmp shows its message in the dialog', '%r: %r' % (caption, text))
        if shown:
            answer_dialog(page, 'dialog-ok')
            if page.wait_for("tarnwick.frames > 5 || %s" % DIALOG_OPEN, 30) and page.evaluate(DIALOG_OPEN):
                answer_dialog(page, 'dialog-yes')
            check(page.wait_for("tarnwick.frames > 5", 30) is not None, 'after the message the greeting goes on')
            page.press('Escape', 'Escape', 0x1B)
            page.wait_for(ENDED, 10)

        # ---- Without the isolation headers: the service worker mends it; without it the page says so
        plain = Server(site, isolating=False)
        servers.append(plain)
        page = browser.new_page()
        page.navigate(plain.url)
        mended = page.wait_for(OPENING + " && crossOriginIsolated", 60)
        check(mended is not None, 'without the headers the service worker isolates the page',
              '' if mended is not None else 'tarnwick.error %s' % page.evaluate("window.tarnwick && tarnwick.error"))
        bare = Server(site_variant(site, work, 'no_sw', drop=['sw.js']), isolating=False)
        servers.append(bare)
        page = browser.new_page()
        page.navigate(bare.url)
        said = page.wait_for("tarnwick.error === 'isolation' && !document.getElementById('failure').hidden", 60)
        check(said is not None and 'Cross-Origin-Embedder-Policy' in page.evaluate(
              "document.getElementById('failure-text').textContent"),
              'opened without cross-origin isolation, the page says so')

        # ---- A browser without WebGL, and one without AudioWorklet (each taken away before the page runs)
        for kind, removal in (('webgl', "HTMLCanvasElement.prototype.getContext = function() { return null; };"),
                              ('audioworklet', "delete window.AudioWorkletNode;")):
            page = browser.new_page()
            page.before_scripts(removal)
            page.navigate(main.url)
            check(page.wait_for("tarnwick.error === '%s' && !document.getElementById('failure').hidden" % kind, 60)
                  is not None, 'without %s the page says so' % ('WebGL' if kind == 'webgl' else 'AudioWorklet'))

        # ---- No data pack, and the page opened from a file
        no_data = Server(site_variant(site, work, 'no_data', drop=['data.pack']))
        servers.append(no_data)
        page = browser.new_page()
        page.navigate(no_data.url)
        check(page.wait_for("tarnwick.error === 'data' && !document.getElementById('failure').hidden", 60)
              is not None, 'a failed download of the data says so')
        page = browser.new_page()
        page.navigate('file://' + os.path.join(os.path.abspath(site), 'index.html'))
        check(page.wait_for("tarnwick.error === 'file'", 30) is not None, 'opened from file://, the page says so')
    finally:
        if browser is not None:
            browser.close()
        for server in servers:
            server.close()
        shutil.rmtree(work, ignore_errors=True)


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    began = time.monotonic()
    try:
        run(os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]))
    except Exception as error:   # a broken run is a failure with its reason, never a silent pass
        record('FAIL', 'the browser checks ran to their end', '%s: %s' % (type(error).__name__, error))
    for name, value in figures:
        print('figure: %s: %s' % (name, value))
    failed = [r for r in results if r[0] == 'FAIL']
    print('browser checks: %d passed, %d skipped, %d failed in %.0f s' % (
        sum(1 for r in results if r[0] == 'PASS'), sum(1 for r in results if r[0] == 'SKIP'), len(failed),
        time.monotonic() - began))
    return 1 if failed or not results else 0


if __name__ == '__main__':
    sys.exit(main())
