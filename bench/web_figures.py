#!/usr/bin/env python3
"""The browser build's figures, for bench/run.sh: the site's size (gzipped, as a server sends it), what the
studio page (make.html) downloads beyond the greeting page (its program and data are the greeting page's,
which the browser keeps), and in desktop Chromium for each build the time from loading the page to the
opening screen, from the click to the first frame, and the share of the main thread spent mixing; then,
once, the whole greeting made as a video in the build with threads (web/video.js: the song's first pass and
the fade, 800 x 600 at 60 pictures a second) against its length, with where the time went and the CPU time
of all the browser's processes, and the video maker's download (gzipped).

Usage: web_figures.py SITE REPS   (Debian's /usr/bin/python3; prints one JSON object)
Times are medians over REPS page loads; the mixing share is measured over 20 s of the song. The machine may be
shared: wall times vary with its load."""
import gzip
import json
import os
import shutil
import statistics
import sys
import tempfile

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests', 'web'))
import cdp  # noqa: E402
from web_support import DIALOG_OPEN, OPENING, answer_dialog, serve_build, site_variant  # noqa: E402

SHARED_FILES = ('index.html', 'page.js', 'site.js', 'worklet.js', 'sw.js', 'data.pack')
STUDIO_FILES = ('make.html', 'make.js', 'make.css', 'qrcode.js')
# What making a video downloads beyond the studio's page (the MP3 encoder only where the browser encodes no
# AAC).
VIDEO_FILES = ('video.js', 'record.html', 'record.js', 'mediabunny.js')
MP3_FILES = ('mediabunny-mp3-encoder.js',)
VIDEO_PAGE = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests', 'web', 'video_page.html')
BUILD_FILES = {'threads': ('tarnwick.js', 'tarnwick.wasm', 'tarnwick.worker.js'),
               'single': ('tarnwick-single.js', 'tarnwick-single.wasm')}
MIX_SECONDS = 20


def gzipped(path):
    with open(path, 'rb') as f:
        return len(gzip.compress(f.read(), 9))


def one_load(browser, url, measure_mixing):
    """Loads the page and opens the greeting: (load to opening, click to first frame, mixing share or None)."""
    page = browser.new_page()
    page.navigate(url)
    if page.wait_for(OPENING, 60) is None:
        raise RuntimeError('the page at %s did not open (tarnwick.error %s)' % (url, page.evaluate("tarnwick.error")))
    page.click(400, 300)
    page.wait_for("tarnwick.timing.firstFrameMs !== null || %s" % DIALOG_OPEN, 30)
    if page.evaluate(DIALOG_OPEN):
        answer_dialog(page, 'dialog-yes')
        page.wait_for("tarnwick.timing.firstFrameMs !== null", 30)
    timing = page.evaluate("tarnwick.timing")
    share = None
    if measure_mixing:
        page.pump(2.0)
        before = page.evaluate("[tarnwick.audio.mainThreadMixMs, performance.now()]")
        page.pump(MIX_SECONDS)
        after = page.evaluate("[tarnwick.audio.mainThreadMixMs, performance.now()]")
        share = 100.0 * (after[0] - before[0]) / (after[1] - before[1])
    page.press('Escape', 'Escape', 0x1B)
    return timing['openingMs'] / 1000.0, (timing['firstFrameMs'] - timing['tapMs']) / 1000.0, share


def browser_cpu_seconds(browser):
    """CPU time (user and system) of the browser and every process it started, as /proc tells it now."""
    parents = {}
    times = {}
    tick = os.sysconf('SC_CLK_TCK')
    for entry in os.listdir('/proc'):
        if not entry.isdigit():
            continue
        try:
            with open('/proc/%s/stat' % entry) as f:
                fields = f.read().rsplit(')', 1)[1].split()
        except OSError:
            continue
        parents[int(entry)] = int(fields[1])
        times[int(entry)] = (int(fields[11]) + int(fields[12])) / float(tick)

    def in_browser(pid):
        while pid > 1:
            if pid == browser.process.pid:
                return True
            pid = parents.get(pid, 0)
        return False
    return sum(cpu for pid, cpu in times.items() if in_browser(pid))


def whole_video(browser, site, work, servers):
    """The whole greeting made as a video in the build with threads: its figures."""
    folder = site_variant(site, work, 'video_bench')
    shutil.copy(VIDEO_PAGE, folder)
    page = browser.new_page()
    page.navigate(serve_build(folder, work, 'threads', servers) + 'video_page.html')
    if page.wait_for('window.videoTestReady === true', 60) is None:
        raise RuntimeError('the video page did not load')
    cpu = browser_cpu_seconds(browser)
    number = page.evaluate('videoTest.start(null, null, null, false)')
    if page.wait_for("videoTest.view(%d).state !== 'making'" % number, 3600, poll=1.0) is None:
        raise RuntimeError('no video within an hour')
    cpu = browser_cpu_seconds(browser) - cpu
    view = page.evaluate('videoTest.view(%d)' % number)
    if view['state'] != 'done':
        raise RuntimeError('the video failed: %s' % view['error'])
    timing = view['timing']
    return {'video_s': view['seconds'], 'video_cpu_s': cpu, 'video_bytes': view['size'],
            'video_sound': view['soundCodec'],
            'video_draw_s': timing['drawMs'] / 1000.0, 'video_picture_wait_s': timing['pictureWaitMs'] / 1000.0,
            'video_sound_wait_s': timing['soundWaitMs'] / 1000.0,
            'video_load_s': timing['loadMs'] / 1000.0, 'video_finish_s': timing['finishMs'] / 1000.0}


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    site, reps = os.path.abspath(sys.argv[1]), int(sys.argv[2])
    figures = {'shared_gz': sum(gzipped(os.path.join(site, f)) for f in SHARED_FILES),
               'studio_gz': sum(gzipped(os.path.join(site, f)) for f in STUDIO_FILES)}
    for build, files in BUILD_FILES.items():
        figures[build + '_gz'] = sum(gzipped(os.path.join(site, f)) for f in files)
    figures['video_gz'] = sum(gzipped(os.path.join(site, f)) for f in VIDEO_FILES)
    figures['mp3_gz'] = sum(gzipped(os.path.join(site, f)) for f in MP3_FILES)
    work = tempfile.mkdtemp(prefix='tw_web_bench_')
    servers = []
    browser = cdp.Browser(extra_flags=['--autoplay-policy=no-user-gesture-required'])
    try:
        for build in BUILD_FILES:
            url = serve_build(site, work, build, servers)
            loads = [one_load(browser, url, build == 'single' and rep == 0) for rep in range(reps)]
            figures[build + '_opening_s'] = statistics.median(load[0] for load in loads)
            figures[build + '_first_frame_s'] = statistics.median(load[1] for load in loads)
            if build == 'single':
                figures['single_mixing_percent'] = loads[0][2]
        figures.update(whole_video(browser, site, work, servers))
    finally:
        browser.close()
        for server in servers:
            server.close()
        shutil.rmtree(work, ignore_errors=True)
    print(json.dumps(figures))
    return 0


if __name__ == '__main__':
    sys.exit(main())
