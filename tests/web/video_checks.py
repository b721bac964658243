"""The greeting as a video made in the browser (web/video.js, record.html and record.js), in headless
Chromium, driven from a page of the test's own (video_page.html, put into a copy of the site) that downloads a
finished video as the studio page does.

With threads (a cross-origin isolated page): a 10 s video of a typed greeting downloads as greeting.mp4;
FFmpeg decodes it: an H.264 stream of 800 x 600 and a sound stream, both 10 s to within a picture, 600
pictures; its picture at 5 s against the same picture of `tarnwick --record --greeting --seconds 10` with the
same text (PSNR >= 30 dB, and the picture after it clearly lower, so a timeline a picture off is told apart);
its sound against xmrender's first 10 s (correlation >= 0.99, no more than a picture's time off). A video
cancelled half-way: the promise ends as cancelled, no download begins, the page's frame and the video's
workers are gone and no progress comes after; then the next video (a song of one's own, 2 s) is whole.
Without threads: a 3 s video, and bad input: a greeting that is not UTF-8 and a song that is no module get
the intro's own words, a signal cancelled before the start makes nothing. A browser without WebCodecs is told
so by videoSupport(), and a site whose muxer or video page's script did not download says so.

Figures: the time each build took for its video, against the video's length."""
import base64
import json
import math
import operator
import os
import shutil
import struct
import subprocess
import time

from web_support import ROOT, check, figures, record, render, serve_build, site_variant

VIDEO_SECONDS = 10
FPS = 60
RATE = 44100
# A greeting as someone types it: Cyrillic and Latin, and a character without a glyph (shown blank).
GREETING = '   С Новым годом! Happy New Year 2027 from Tarnwick \U0001F384\n'
SMALL_SONG = os.path.join(ROOT, 'fuzz', 'corpus', 'play', 'small_song.xm')
MIN_PSNR = 30.0
MIN_CORRELATION = 0.99
# Making a video here takes about 1.5 s per second of video on two idle cores; a busy machine takes longer.
VIDEO_TIMEOUT = 600


def b64(data):
    return base64.b64encode(data).decode()


def start(page, greeting=None, song=None, seconds=None, aborted=False):
    """Starts a video on the test's page; returns its number."""
    return page.evaluate('videoTest.start(%s, %s, %s, %s)' % (
        json.dumps(None if greeting is None else b64(greeting)), json.dumps(None if song is None else b64(song)),
        json.dumps(seconds), json.dumps(aborted)))


def finished(page, number, timeout=VIDEO_TIMEOUT):
    """The run's view once it is no longer making (None after the timeout)."""
    if page.wait_for("videoTest.view(%d).state !== 'making'" % number, timeout, poll=0.5) is None:
        return None
    return page.evaluate('videoTest.view(%d)' % number)


def downloaded(browser, folder, known, timeout=60):
    """The path of the download that began after `known` (guids seen before) once it is complete, or None."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        for guid, download in browser.downloads().items():
            if guid not in known and download['state'] == 'completed':
                return os.path.join(folder, guid), download['name']
        time.sleep(0.2)
    return None, None


def probe(path):
    """FFprobe's view of the streams: {'video': {...}, 'audio': {...}} with the pictures counted."""
    out = subprocess.run(['ffprobe', '-v', 'error', '-count_frames', '-show_entries',
                          'stream=codec_type,codec_name,profile,width,height,nb_read_frames,duration,sample_rate,'
                          'channels', '-of', 'json', path], capture_output=True, check=True, timeout=120).stdout
    streams = {}
    for stream in json.loads(out)['streams']:
        streams.setdefault(stream['codec_type'], stream)
    return streams


def picture(path, number):
    """Picture `number` (from 0) of a video as RGB bytes, top row first."""
    return subprocess.run(['ffmpeg', '-v', 'error', '-i', path, '-vf', r'select=eq(n\,%d)' % number, '-vsync', '0',
                           '-frames:v', '1', '-f', 'rawvideo', '-pix_fmt', 'rgb24', '-'],
                          capture_output=True, check=True, timeout=120).stdout


def psnr(a, b):
    if len(a) != len(b) or not a:
        return 0.0
    mse = sum(map(lambda x, y: (x - y) * (x - y), a, b)) / float(len(a))
    return 99.0 if mse == 0 else 10 * math.log10(255.0 * 255.0 / mse)


def sound(path):
    """The decoded sound of a video: 16-bit stereo samples at 44,100 Hz, interleaved."""
    data = subprocess.run(['ffmpeg', '-v', 'error', '-i', path, '-vn', '-f', 's16le', '-ac', '2', '-ar', str(RATE),
                           '-'], capture_output=True, check=True, timeout=120).stdout
    return struct.unpack('<%dh' % (len(data) // 2), data)


def aligned_correlation(heard, rendered, max_lag=2048):
    """(lag, correlation): the lag (in frames, heard = rendered later by it) found over a quarter second from
    1 s on, then the correlation of both channels over the whole render at that lag."""
    mono_heard = [heard[2 * i] + heard[2 * i + 1] for i in range(len(heard) // 2)]
    mono_render = [rendered[2 * i] + rendered[2 * i + 1] for i in range(len(rendered) // 2)]
    at, count = RATE, RATE // 4
    piece = mono_render[at:at + count]
    lags = [lag for lag in range(-max_lag, max_lag + 1) if at + lag >= 0 and at + lag + count <= len(mono_heard)]
    lag = max(lags, key=lambda k: sum(map(operator.mul, piece, mono_heard[at + k:at + k + count])))
    first = max(0, -lag)
    frames = min(len(rendered) // 2, len(heard) // 2 - lag)
    x = rendered[2 * first:2 * frames]
    y = heard[2 * (first + lag):2 * (frames + lag)]
    sxx = sum(map(operator.mul, x, x))
    syy = sum(map(operator.mul, y, y))
    return lag, (sum(map(operator.mul, x, y)) / math.sqrt(sxx * syy) if sxx and syy else 0.0)


def check_streams(path, seconds, label):
    streams = probe(path)
    video, audio = streams.get('video', {}), streams.get('audio', {})
    pictures = int(video.get('nb_read_frames', 0))
    check(video.get('codec_name') == 'h264' and (video.get('width'), video.get('height')) == (800, 600) and
          pictures == seconds * FPS and abs(float(video.get('duration', 0)) - seconds) <= 1.0 / FPS,
          '%s: FFmpeg decodes an H.264 stream of 800 x 600, %d pictures, %d s to within a picture' % (
              label, seconds * FPS, seconds),
          '%s %s, %sx%s, %d pictures, %s s' % (video.get('codec_name'), video.get('profile'), video.get('width'),
                                                video.get('height'), pictures, video.get('duration')))
    check(audio.get('codec_name') in ('aac', 'mp3') and audio.get('sample_rate') == str(RATE) and
          audio.get('channels') == 2 and abs(float(audio.get('duration', 0)) - seconds) <= 1.0 / FPS,
          '%s: and a sound stream (AAC, or MP3 where the browser encodes no AAC) of 44,100 Hz stereo, %d s to '
          'within a picture' % (label, seconds),
          '%s, %s Hz, %s channels, %s s' % (audio.get('codec_name'), audio.get('sample_rate'), audio.get('channels'),
                                            audio.get('duration')))
    return audio.get('codec_name')


def check_sound(path, song, seconds, xmrender, work, label):
    heard = sound(path)
    rendered = render(xmrender, song, seconds, os.path.join(work, 'video_render.wav'))
    rendered = struct.unpack('<%dh' % (len(rendered) // 2), rendered)
    lag, correlation = aligned_correlation(heard, rendered)
    check(correlation >= MIN_CORRELATION and abs(lag) <= RATE // FPS,
          "%s: the sound is xmrender's first %d s (correlation >= %.2f) and starts with the pictures" % (
              label, seconds, MIN_CORRELATION),
          'correlation %.5f at %d frames' % (correlation, lag))


def check_pictures(path, native, label):
    middle = VIDEO_SECONDS * FPS // 2
    made = picture(path, middle)
    same = psnr(made, picture(native, middle))
    after = psnr(made, picture(native, middle + 1))
    check(same >= MIN_PSNR and after < same - 3,
          '%s: the picture at 5 s is the one tarnwick --record draws there (PSNR >= %d dB; the next one is not)' % (
              label, MIN_PSNR),
          '%.1f dB; against the next picture %.1f dB' % (same, after))


def native_video(native_build, greeting_file, work):
    out = os.path.join(work, 'native.mp4')
    env = {k: v for k, v in os.environ.items() if k != 'DISPLAY'}
    subprocess.run([os.path.join(native_build, 'shell', 'tarnwick'), '--record', out, '--greeting', greeting_file,
                    '--seconds', str(VIDEO_SECONDS), '-q'], cwd=ROOT, env=env, check=True, timeout=600,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return out


def workers(browser):
    """The ids of the browser's workers and out-of-process frames now (of every page it has open)."""
    return {t['targetId'] for t in browser.targets() if t['type'] in ('worker', 'iframe')}


def check_typed_greeting(browser, page, folder, native_build, work):
    """The 10 s video of a typed greeting, against --record and xmrender."""
    label = 'video, threads'
    support = page.evaluate('videoTest.support()', await_promise=True)
    check(support == {'ok': True, 'message': ''}, '%s: videoSupport() says this browser makes videos' % label,
          repr(support))
    greeting = GREETING.encode()
    number = start(page, greeting=greeting, seconds=VIDEO_SECONDS)
    view = finished(page, number)
    if not check(view is not None and view['state'] == 'done' and view['fileName'] == 'greeting.mp4' and
                 view['type'] == 'video/mp4',
                 '%s: a %d s video of a typed greeting is made as greeting.mp4' % (label, VIDEO_SECONDS),
                 repr(view and {k: view[k] for k in view if k != 'progress'})):
        return
    fractions = [p[0] for p in view['progress']]
    check(fractions == sorted(fractions) and fractions[-1] == 1 and any(p[1] is not None for p in view['progress']),
          '%s: the progress rises to 1 with the time left' % label,
          '%d reports, the last %r' % (len(fractions), view['progress'][-1]))
    figures.append(('%s: a %d s video made in' % (label, VIDEO_SECONDS), '%.1f s (%.2fx real time)' % (
        view['seconds'], VIDEO_SECONDS / view['seconds'])))
    path, name = downloaded(browser, folder, set())
    if not check(path is not None and name == 'greeting.mp4' and os.path.getsize(path) == view['size'],
                 '%s: the page downloads it whole' % label, '%s, %s' % (name, path)):
        return
    figures.append(('%s: the %d s file' % (label, VIDEO_SECONDS), '%.2f MB' % (os.path.getsize(path) / 1048576.0)))
    codec = check_streams(path, VIDEO_SECONDS, label)
    record('INFO', '%s: the sound is %s' % (label, codec))
    greeting_file = os.path.join(work, 'greeting.txt')
    with open(greeting_file, 'wb') as f:
        f.write(greeting)
    check_pictures(path, native_video(native_build, greeting_file, work), label)
    xmrender = os.path.join(native_build, 'tools', 'xmrender', 'xmrender')
    check_sound(path, os.path.join(ROOT, 'data', 'glimrook.xm'), VIDEO_SECONDS, xmrender, work, label)


def check_cancel(browser, page, folder, native_build, work):
    """Cancelled half-way: nothing is downloaded or left running; the next video is whole."""
    label = 'video, threads'
    known = set(browser.downloads())
    before = workers(browser)
    number = start(page, seconds=20)
    half = page.wait_for("videoTest.view(%d).state !== 'making' || "
                         "videoTest.view(%d).progress.some(p => p[0] >= 0.5)" % (number, number), VIDEO_TIMEOUT, 0.2)
    busy = workers(browser) - before
    page.evaluate('videoTest.cancel(%d)' % number)
    if not check(half is not None and page.evaluate("videoTest.view(%d).state" % number) == 'failed',
                 '%s: cancelled half-way, the video ends' % label, repr(page.evaluate('videoTest.view(%d).state' %
                                                                                     number))):
        return
    page.pump(2.0)
    view = page.evaluate('videoTest.view(%d)' % number)
    check(view['error'] == 'AbortError' and view['progressAfterCancel'] == 0 and view['size'] == 0,
          '%s: as cancelled (AbortError), with no file and no progress after' % label,
          '%s, %d reports after' % (view['error'], view['progressAfterCancel']))
    new = [guid for guid in browser.downloads() if guid not in known]
    left = workers(browser) - before
    check(not new and view['frames'] == 0 and busy and not left,
          '%s: no download begins, and the frame and its workers are gone' % label,
          '%d downloads; %d frames; workers %d while making, %d after' % (len(new), view['frames'], len(busy),
                                                                           len(left)))
    song = open(SMALL_SONG, 'rb').read()
    number = start(page, song=song, seconds=2)
    view = finished(page, number)
    path, _ = downloaded(browser, folder, known)
    if not check(view is not None and view['state'] == 'done' and path is not None,
                 '%s: after the cancel the next video (a song of one\'s own, 2 s) is made and downloaded' % label,
                 repr(view and view['error'])):
        return
    check_streams(path, 2, label + ', the next')
    xmrender = os.path.join(native_build, 'tools', 'xmrender', 'xmrender')
    check_sound(path, SMALL_SONG, 2, xmrender, work, label + ', the next')


def check_without_threads(browser, page, folder):
    """The build without threads makes a video too; bad input gets the intro's words."""
    label = 'video, single'
    known = set(browser.downloads())
    number = start(page, greeting=GREETING.encode(), seconds=3)
    view = finished(page, number)
    path, _ = downloaded(browser, folder, known)
    if check(view is not None and view['state'] == 'done' and path is not None,
             '%s: a 3 s video is made and downloaded' % label, repr(view and view['error'])):
        check_streams(path, 3, label)
        figures.append(('%s: a 3 s video made in' % label, '%.1f s' % view['seconds']))

    for what, greeting, song, says in (
            ('a greeting that is not UTF-8', b'Happy \xff New Year', None,
             'The video could not be made: the greeting you typed is not UTF-8 text (line 1).'),
            ('a song that is no module', None, b'Extended Module: but nothing more',
             'The video could not be made: Error loading song.')):
        number = start(page, greeting=greeting, song=song, seconds=2)
        view = finished(page, number, 120)
        check(view is not None and view['state'] == 'failed' and view['kind'] == 'program' and
              view['error'] == says and view['frames'] == 0,
              "%s: %s gets the intro's words, and nothing is left" % (label, what),
              repr(view and (view['kind'], view['error'], view['frames'])))
    number = start(page, seconds=2, aborted=True)
    view = finished(page, number, 10)
    check(view is not None and view['error'] == 'AbortError' and view['frames'] == 0 and not view['progress'],
          '%s: a video cancelled before it starts makes nothing' % label, repr(view))
    page.pump(1.0)
    new = [download['name'] for guid, download in browser.downloads().items() if guid not in known]
    check(new == ['greeting.mp4'], '%s: only the finished video was downloaded' % label, repr(new))


def check_missing_parts(browser, video_site, work, servers):
    """A site whose muxer or whose video page's script did not download: the reader is told, nothing is left."""
    for part, says in (('mediabunny.js', 'the video muxer'), ('record.js', 'the video maker')):
        folder = site_variant(video_site, work, 'video_site_no_' + part.replace('.', '_'), drop=[part])
        page = browser.new_page()
        page.navigate(serve_build(folder, work, 'single', servers) + 'video_page.html')
        page.wait_for('window.videoTestReady === true', 60)
        view = finished(page, start(page, seconds=2), 120)
        check(view is not None and view['kind'] == 'download' and says in (view['error'] or '') and
              view['frames'] == 0,
              'video: a site without %s says the part did not download, and nothing is left' % part,
              repr(view and (view['kind'], view['error'], view['frames'])))


def check_unsupported(browser, url):
    page = browser.new_page()
    page.before_scripts('delete window.VideoEncoder;')
    page.navigate(url + 'video_page.html')
    page.wait_for('window.videoTestReady === true', 60)
    support = page.evaluate('videoTest.support()', await_promise=True)
    check(support is not None and support['ok'] is False and 'WebCodecs' in support['message'],
          'video: a browser without WebCodecs is told so', repr(support))


def run(browser, site, native_build, work, servers):
    folder = os.path.join(work, 'downloads')
    os.makedirs(folder, exist_ok=True)
    browser.allow_downloads(folder)
    video_site = site_variant(site, work, 'video_site')
    shutil.copy(os.path.join(os.path.dirname(os.path.abspath(__file__)), 'video_page.html'), video_site)
    urls = {build: serve_build(video_site, work, build, servers) for build in ('threads', 'single')}

    page = browser.new_page()
    page.navigate(urls['threads'] + 'video_page.html')
    if not check(page.wait_for('window.videoTestReady === true && crossOriginIsolated', 60) is not None,
                 'video, threads: the test page loads, cross-origin isolated'):
        return
    check_typed_greeting(browser, page, folder, native_build, work)
    check_cancel(browser, page, folder, native_build, work)
    check(not page.console_errors, 'video, threads: no console error on the way', '; '.join(page.console_errors[:3]))

    page = browser.new_page()
    page.navigate(urls['single'] + 'video_page.html')
    if check(page.wait_for('window.videoTestReady === true && !crossOriginIsolated', 60) is not None,
             'video, single: the test page loads, not isolated'):
        check_without_threads(browser, page, folder)
    check_unsupported(browser, urls['single'])
    check_missing_parts(browser, video_site, work, servers)
