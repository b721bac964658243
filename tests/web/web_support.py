"""What the greeting's browser checks share: the record of results and figures, PNG screenshots and the
native frame they are compared with, the servers of the site and its variants, the page's own expressions,
and the worklet's captured sound against the offline render.

Run with Debian's /usr/bin/python3 (python3-websocket carries the DevTools protocol)."""
import base64
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import time
import zlib

sys.dont_write_bytecode = True   # no caches left in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'windows'))
import cdp  # noqa: E402
from check_audio import Music, wav_pcm  # noqa: E402

ROOT = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..'))
OUTPUT_RATE = 44100
BYTES_PER_SECOND = OUTPUT_RATE * 4
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


def site_variant(site, work, name, leave_out_data=None, drop=(), put=()):
    """A copy of the site: its data pack made without the file given or with other files put in ([data path,
    file]), or without the site files given."""
    folder = os.path.join(work, name)
    shutil.copytree(site, folder)
    if leave_out_data is not None or put:
        command = [sys.executable, os.path.join(ROOT, 'web', 'pack_data.py'), os.path.join(ROOT, 'data'),
                   os.path.join(folder, 'data.pack')]
        if leave_out_data is not None:
            command += ['--leave-out', leave_out_data]
        for path, source in put:
            command += ['--put', '%s=%s' % (path, source)]
        subprocess.run(command, check=True)
    for file in drop:
        os.remove(os.path.join(folder, file))
    return folder


def serve_build(site, work, build, servers):
    """The site served for a build: with the isolation headers for the one with threads; for the one
    without, as a host without headers serves it, where the service worker cannot run either (it is left
    out). Returns the address."""
    if build == 'threads':
        server = Server(site)
    else:
        server = Server(site_variant(site, work, os.path.basename(site) + '_no_sw', drop=['sw.js']), isolating=False)
    servers.append(server)
    return server.url


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


def check_scene(page, native, label):
    shot = decode_png(page.screenshot_png())
    if not check(shot[0] == 800 and shot[1] == 600, '%s: the fullscreen canvas fills the 800 x 600 screen' % label,
                 '%d x %d' % shot[:2]):
        return
    for name, box in STILL_REGIONS.items():
        share = region_match(shot, native, box)
        check(share >= REGION_MATCH, '%s: the canvas shows the %s as the native frame does' % (label, name),
              '%.1f %% of the pixels agree' % (100 * share))
    flakes = white_pixels(shot, SNOWFLAKE_BOX)
    check(flakes >= 50 and white_pixels(shot, (0, 0, 400, 170)) == 0,
          '%s: white snowflake pixels in the upper right only' % label, '%d there, native %d' %
          (flakes, white_pixels(native, SNOWFLAKE_BOX)))


# ---- Sound ---------------------------------------------------------------------------------------------

def measure_played_rate(page, seconds=5):
    """The worklet's played count per second of wall clock over `seconds`, and the audio clock's pace."""
    sample = page.evaluate(
        "(async () => { const ctx = tarnwickPage.audioContext;"
        " const now = () => [tarnwickPage.playedBytesNow(), performance.now(), ctx.currentTime];"
        " const a = now(); await new Promise(r => setTimeout(r, %d)); return [a, now()]; })()" % (seconds * 1000),
        await_promise=True, timeout=seconds + 30)
    (b0, t0, c0), (b1, t1, c1) = sample
    wall = (t1 - t0) / 1000.0
    return (b1 - b0) / wall, (c1 - c0) / wall, wall


def check_audio_rate(page, label, tolerance=RATE_TOLERANCE):
    """The played count advances at the song's 176,400 bytes a second against the wall clock (a count that
    follows an audio clock the busy host held back is a skip with its figures, never a pass)."""
    rate, clock, wall = measure_played_rate(page)
    name = '%s: the played count advances at 176,400 bytes a second within %g %%' % (label, 100 * tolerance)
    detail = '%.0f bytes/s over %.2f s; the audio clock ran at %.3f of real time' % (rate, wall, clock)
    figures.append(('%s: played bytes per second' % label, '%.0f' % rate))
    if abs(rate / BYTES_PER_SECOND - 1.0) <= tolerance:
        record('PASS', name, detail)
    elif abs(clock - 1.0) > tolerance and abs(rate / (clock * BYTES_PER_SECOND) - 1.0) <= tolerance:
        record('SKIP', '%s: the host held back the browser\'s audio thread' % name, detail)
    else:
        record('FAIL', name, detail)


LEAST_AHEAD_MS = 500


def longest_stall_ms(page):
    """The longest time the mixing was held up by the host: between two looks of the streaming thread at the
    device, or, without threads, also while the page's own thread took in no report of the worklet."""
    gap = page.evaluate("tarnwick.audio.longestPollGapMs")
    if page.evaluate("tarnwick.build") == 'single':
        gap = max(gap, page.evaluate("tarnwick.audio.longestReportGapMs"))
    return gap


def check_ahead(page, label):
    """The mixing keeps at least half a second of new sound ready ahead of the speaker (from the first
    second on); a host that held the mixing back for most of the ring is a skip with its figures."""
    ahead = page.evaluate("tarnwick.audio.leastAheadMs")
    name = '%s: at least %d ms of sound always ready ahead of the speaker' % (label, LEAST_AHEAD_MS)
    stall = longest_stall_ms(page)
    detail = 'at the least %s ms; the mixing held up for %d ms at the longest' % (ahead, stall)
    if ahead is not None and ahead >= LEAST_AHEAD_MS:
        record('PASS', name, detail)
    elif stall >= STALL_MS:
        record('SKIP', '%s: the host held the mixing back' % name, detail)
    else:
        record('FAIL', name, detail)


def read_capture(page, timeout=60):
    """The worklet's copy of its first seconds (16-bit stereo at the context's rate), or None."""
    if page.wait_for("tarnwickPage.captureBase64() !== null", timeout) is None:
        return None
    return base64.b64decode(page.evaluate("tarnwickPage.captureBase64()", timeout=60))


def render(xmrender, song, seconds, out):
    """xmrender's samples of the song's first seconds (16-bit stereo at 44,100 Hz)."""
    subprocess.run([xmrender, song, out, '--seconds', str(seconds)], check=True, stdout=subprocess.DEVNULL,
                   timeout=120)
    return wav_pcm(out)


def left_channel(pcm):
    return struct.unpack('<%dh' % (len(pcm) // 2), pcm)[0::2]


def pitch(samples, rate):
    """The frequency of a steady tone: rising zero crossings (placed between samples) over their span."""
    crossings = [i - 1 + -a / float(b - a) for i, (a, b) in enumerate(zip(samples, samples[1:]), 1) if a < 0 <= b]
    if len(crossings) < 2:
        return 0.0
    return (len(crossings) - 1) / ((crossings[-1] - crossings[0]) / rate)


PIECE = 882   # 20 ms: the unit the captured sound is cut into to find it in the render


def song_places(heard, rendered):
    """Cuts the captured sound into pieces of 20 ms and finds each one that is not silent in the render:
    returns [(heard frame, render frame or -1)]. Each is looked for first after the piece before it (a song
    that repeats itself note for note still reads forward), then anywhere."""
    music = Music(heard, rendered)
    places = []
    after = 0
    for at in range(0, music.heard_frames - PIECE + 1, PIECE):
        if music.silent_frames(at, at + PIECE) > 0:
            continue
        place = music.find(at, PIECE, after, music.render_frames)
        if place < 0:
            place = music.find(at, PIECE, 0, music.render_frames)
        places.append((at, place))
        if place >= 0:
            after = place + PIECE
    return places


def heard_twice(places):
    """Pieces whose place in the song lies at or before the end of one heard earlier: the song went back."""
    latest = -1
    twice = []
    for at, place in places:
        if place < 0:
            continue
        if place < latest:
            twice.append((at, place))
        latest = max(latest, place + PIECE)
    return twice


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


def check_toggles(page, fullscreen, label):
    """F1 to the other mode and back, then the browser's own exit from fullscreen, which counts as F1."""
    frames = page.evaluate("tarnwick.frames")
    if not fullscreen:
        press_f1(page)
        check(canvas_becomes(page, 640, 480, False), '%s: F1 opens the 640 x 480 canvas' % label)
        record('SKIP', '%s: F1 back to fullscreen and leaving it through the browser' % label,
               'the browser refuses fullscreen')
        return
    press_f1(page)
    check(canvas_becomes(page, 640, 480, False), '%s: F1 switches from fullscreen to the 640 x 480 canvas' % label,
          'now %s' % page.evaluate(CANVAS_SIZE))
    check(page.wait_for("tarnwick.frames > %d" % (frames + 10), 10) is not None, '%s: frames go on after F1' % label)
    if press_f1(page):
        record('SKIP', '%s: F1 back to fullscreen and leaving it through the browser' % label,
               'the browser refused fullscreen on F1')
        return
    check(canvas_becomes(page, 640, 480, True),
          '%s: F1 switches back to fullscreen (a 640 x 480 drawing buffer)' % label,
          'now %s' % page.evaluate(CANVAS_SIZE))
    page.evaluate("document.exitFullscreen()")
    check(canvas_becomes(page, 640, 480, False), '%s: leaving fullscreen through the browser counts as F1' % label,
          'now %s' % page.evaluate(CANVAS_SIZE))


def end_with_escape(page, label):
    """Esc ends the greeting on the end screen with exit code 0 and the audio closed. Just after leaving
    fullscreen the browser itself may still take an Esc as "leave fullscreen" and never hand it to the page:
    a key the page did not see is pressed again."""
    page.evaluate("window.escapesSeen = 0; addEventListener('keydown', "
                  "e => { if (e.code === 'Escape') escapesSeen++; }, true)")
    page.pump(0.5)
    page.press('Escape', 'Escape', 0x1B)
    if page.wait_for(ENDED, 10) is None and page.evaluate("escapesSeen") == 0:
        record('INFO', '%s: the browser kept the first Esc from the page; pressed again' % label)
        page.press('Escape', 'Escape', 0x1B)
    check(page.wait_for(ENDED, 10) is not None and page.evaluate("tarnwick.exitCode") == 0,
          '%s: Esc ends the intro on the end screen' % label, 'exit code %s, Esc seen by the page %s times' % (
              page.evaluate("tarnwick.exitCode"), page.evaluate("escapesSeen")))
    check(page.wait_for("tarnwick.audio.state === 'closed'", 5) is not None,
          '%s: the audio is closed at the end' % label)


def dialog_says(page, timeout=30):
    """Waits for the dialog; returns (shown, caption, text)."""
    shown = page.wait_for(DIALOG_OPEN, timeout) is not None
    return (shown, page.evaluate("document.getElementById('dialog-caption').textContent"),
            page.evaluate("document.getElementById('dialog-text').textContent"))


def summary(began):
    """Prints the figures and the count; the exit code (0 when nothing failed)."""
    for name, value in figures:
        print('figure: %s: %s' % (name, value))
    failed = [r for r in results if r[0] == 'FAIL']
    print('browser checks: %d passed, %d skipped, %d failed in %.0f s' % (
        sum(1 for r in results if r[0] == 'PASS'), sum(1 for r in results if r[0] == 'SKIP'), len(failed),
        time.monotonic() - began))
    return 1 if failed or not results else 0
