#!/usr/bin/env python3
"""The greeting in headless Chromium, in one browser session: the site web/build.sh made, served as hosts
serve it, opened and driven through the DevTools protocol, in both builds: with threads (a cross-origin
isolated page) and without (every other page: a host without the isolation headers where the service worker
cannot run either).

On a desktop, in each build: the page loads with no console error; after the click the canvas shows the
scene (bars, backdrop, snowflakes, both pictures, region by region against the native frame); the frame
count grows; the audio runs, its played count advances at 176,400 bytes a second, and the worklet's first
10 s equal xmrender's first 10 s byte for byte; F1 and the browser's own exit from fullscreen switch to the
640 x 480 canvas and back; Esc ends on the end screen. Bad input in each build: a #greeting= that is not
UTF-8 and a site without l1.bmp get the intro's own messages in the dialog. Once: a refused fullscreen asks
the intro's question; #greeting= reaches the program's --greeting with its warning in the dialog; without
the headers the service worker isolates the page; a browser without WebGL or AudioWorklet, a missing data
pack and a page opened from a file say what the reader can do.

On a phone (phone_checks.py), for the sound (sound_checks.py), in the studio page (studio_checks.py) and for
the greeting as a video made in the browser (video_checks.py): see there.

Usage: browser_test.py SITE NATIVE_BUILD   (run under Xvfb: the native frame needs a display)
SITE is build-web/site, NATIVE_BUILD the native build with xmrender, scene_frames_gl, make_tone_song and the
intro (whose --record the browser's video is held against).
Prints one line per check and the figures measured; exit 0 when nothing failed (skips are reported with
their reasons)."""
import os
import shutil
import sys
import tempfile
import time

sys.dont_write_bytecode = True   # no caches left in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cdp  # noqa: E402
import phone_checks  # noqa: E402
import sound_checks  # noqa: E402
import studio_checks  # noqa: E402
import video_checks  # noqa: E402
from web_support import (  # noqa: E402
    CANVAS_SIZE, DIALOG_OPEN, ENDED, FULLSCREEN_QUESTION, GREETING_BLANKS, GREETING_BYTES, GREETING_FRAGMENT,
    GREETING_NOT_UTF8, OPENING, ROOT, STALL_MS, BYTES_PER_SECOND, Server, answer_dialog, canvas_becomes,
    check, check_ahead, check_audio_rate, check_scene, check_toggles, dialog_says, end_with_escape, figures,
    longest_stall_ms, native_frame,
    open_greeting, read_capture, record, render, serve_build, site_variant, summary)

BUILDS = ('threads', 'single')


def check_capture(page, xmrender, work, label):
    """The worklet's first 10 s equal xmrender's first 10 s byte for byte (a streaming side the host held
    back for most of the ring is a skip with its figures)."""
    name = "%s: the worklet's first 10 s equal xmrender's first 10 s byte for byte" % label
    played = read_capture(page)
    if played is None:
        record('FAIL', name, 'no copy after 60 s')
        return
    expected = render(xmrender, os.path.join(ROOT, 'data', 'glimrook.xm'), 10,
                      os.path.join(work, 'render.wav'))[:10 * BYTES_PER_SECOND]
    gap = longest_stall_ms(page)
    if played == expected:
        record('PASS', name, '%d bytes; the mixing held up for %d ms at the longest' % (len(played), gap))
        return
    first = next((i for i in range(min(len(played), len(expected))) if played[i] != expected[i]),
                 min(len(played), len(expected)))
    detail = '%d and %d bytes, first difference at byte %d (%.3f s); the mixing held up for %d ms at the longest' % (
        len(played), len(expected), first, first / float(BYTES_PER_SECOND), gap)
    if gap >= STALL_MS:
        record('SKIP', '%s: worklet against xmrender: the host held the streaming back' % label, detail)
    else:
        record('FAIL', name, detail)


def check_desktop(browser, url, build, native, xmrender, work):
    """The greeting from loading to its end, on a desktop, in one build."""
    label = 'desktop, ' + build
    page = browser.new_page()
    start = time.monotonic()
    page.navigate(url + '?test')
    loaded = page.wait_for(OPENING, 60)
    if not check(loaded is not None, '%s: the page loads and offers to open the greeting' % label,
                 'tarnwick.error %s' % page.evaluate("window.tarnwick && tarnwick.error") if loaded is None
                 else '%.2f s' % loaded):
        return
    figures.append(('%s: load to the opening screen' % label, '%.2f s' % loaded))
    check(page.evaluate("tarnwick.build") == build and page.evaluate("crossOriginIsolated") == (build == 'threads'),
          '%s: the page runs the build %s' % (label, 'with threads (isolated)' if build == 'threads'
                                             else 'without threads (not isolated)'),
          'tarnwick.build %s, crossOriginIsolated %s' % (page.evaluate("tarnwick.build"),
                                                         page.evaluate("crossOriginIsolated")))
    clicked = time.monotonic()
    fullscreen = open_greeting(page)
    first_frame = time.monotonic()
    if not check(fullscreen is not None, '%s: the click starts the intro' % label,
                 'no frame in 30 s' if fullscreen is None else 'fullscreen' if fullscreen else 'in a window'):
        return
    figures.append(('%s: click to first frame' % label, '%.2f s' % (first_frame - clicked)))
    figures.append(('%s: load to first frame (with the click)' % label, '%.2f s' % (first_frame - start)))
    frames = page.evaluate("tarnwick.frames")
    page.pump(2.0)
    check(page.evaluate("tarnwick.frames") > frames, '%s: tarnwick.frames grows' % label,
          '%d, then %d 2 s later' % (frames, page.evaluate("tarnwick.frames")))
    if fullscreen:
        check_scene(page, native, label)
    else:
        record('SKIP', '%s: the scene against the native frame' % label, 'the browser refused fullscreen')
    check(page.evaluate("tarnwick.audio.state") == 'running', '%s: the audio state is "running"' % label)
    check_audio_rate(page, label)
    check_ahead(page, label)
    check_capture(page, xmrender, work, label)
    check_toggles(page, fullscreen, label)
    end_with_escape(page, label)
    check(not page.console_errors, '%s: no console error on the way' % label, '; '.join(page.console_errors[:3]))


def check_bad_input(browser, url, no_picture_url, build):
    """A greeting that is not UTF-8, and a site without l1.bmp: the intro's own messages in the dialog."""
    label = 'desktop, ' + build
    page = browser.new_page()
    page.navigate(url + '#greeting=%FF')
    page.wait_for(OPENING, 60)
    page.click(400, 300)
    shown, caption, text = dialog_says(page)
    check(shown and caption == 'ERROR' and text == GREETING_NOT_UTF8,
          "%s: #greeting= that is not UTF-8: the intro's error in the dialog" % label, '%r: %r' % (caption, text))
    if shown:
        answer_dialog(page, 'dialog-ok')
        check(page.wait_for(ENDED, 10) is not None and page.evaluate("tarnwick.exitCode") == 1,
              '%s: then the greeting ends with exit code 1, as the intro does' % label,
              'exit code %s' % page.evaluate("tarnwick.exitCode"))

    page = browser.new_page()
    page.navigate(no_picture_url)
    page.wait_for(OPENING, 60)
    page.click(400, 300)
    shown, caption, text = dialog_says(page)
    check(shown and caption == 'Error' and text.strip() == 'Failed to open DIB file data/l1.bmp.',
          '%s: a site without l1.bmp shows its message in the dialog' % label, '%r: %r' % (caption, text))
    if shown:
        answer_dialog(page, 'dialog-ok')
        if page.wait_for("tarnwick.frames > 5 || %s" % DIALOG_OPEN, 30) and page.evaluate(DIALOG_OPEN):
            answer_dialog(page, 'dialog-yes')
        check(page.wait_for("tarnwick.frames > 5", 30) is not None,
              '%s: after the message the greeting goes on' % label)
        page.press('Escape', 'Escape', 0x1B)
        page.wait_for(ENDED, 10)


def check_fragment_greeting(browser, url):
    """Fullscreen refused (opened without a user's click, so the browser says no): the intro's own question
    as a dialog; Yes goes on in an 800 x 600 canvas. The address carries a greeting of its own, whose bytes
    the program gets in the file its --greeting option names, with the intro's warning first."""
    page = browser.new_page()
    page.navigate(url + '#greeting=' + GREETING_FRAGMENT)
    page.wait_for(OPENING, 60)
    page.evaluate("document.getElementById('opening').click()")   # a script's click: no user activation
    # Standard error is the console here, which nobody sees: the warning comes as a box.
    warned, caption, text = dialog_says(page)
    check(warned and caption == 'Tarnwick Rare' and text == GREETING_BLANKS,
          "#greeting= with a character without a glyph: the intro's warning in the dialog", '%r: %r' % (caption, text))
    if warned:
        answer_dialog(page, 'dialog-ok')
        page.wait_for("!" + DIALOG_OPEN, 5)
    asked, caption, text = dialog_says(page)
    check(asked and caption == 'Lumo GL' and text == FULLSCREEN_QUESTION,
          "a refused fullscreen asks the intro's Yes/No question in the dialog", '%r: %r' % (caption, text))
    if asked:
        answer_dialog(page, 'dialog-yes')
        check(canvas_becomes(page, 800, 600, False) and page.wait_for("tarnwick.frames > 5", 30) is not None,
              'answered Yes, the intro goes on in an 800 x 600 canvas', 'now %s' % page.evaluate(CANVAS_SIZE))
        given = page.evaluate("Array.from(Module.FS.readFile('#greeting'))")
        check(bytes(given or []) == GREETING_BYTES, "#greeting= reaches the program as its UTF-8 bytes",
              '%r' % bytes(given or []))
        page.press('Escape', 'Escape', 0x1B)
        page.wait_for(ENDED, 10)


def failure_shown(kind):
    return "tarnwick.error === '%s' && !document.getElementById('failure').hidden" % kind


def check_site_failures(browser, site, main_url, work, servers):
    """How the page meets a host without headers, a browser that lacks what it needs, a missing data pack and
    a file address: the service worker mends the first; each of the others says what the reader can do."""
    plain = Server(site, isolating=False)
    servers.append(plain)
    page = browser.new_page()
    page.navigate(plain.url)
    mended = page.wait_for(OPENING + " && crossOriginIsolated && tarnwick.build === 'threads'", 60)
    check(mended is not None, 'without the headers the service worker isolates the page (the build with threads)',
          '' if mended is not None else 'tarnwick.error %s' % page.evaluate("window.tarnwick && tarnwick.error"))

    for kind, removal, name in (
            ('webgl', "HTMLCanvasElement.prototype.getContext = function() { return null; };", 'WebGL'),
            ('audioworklet', "delete window.AudioWorkletNode;", 'AudioWorklet')):
        page = browser.new_page()
        page.before_scripts(removal)
        page.navigate(main_url)
        said = page.wait_for(failure_shown(kind), 60) is not None
        advice = page.evaluate("document.getElementById('failure-advice').textContent") if said else ''
        check(said and 'Open the link in' in advice and page.evaluate("!document.getElementById('copy-link').hidden"),
              'without %s the page says so, advises another browser and offers to copy the link' % name, advice)
        if said:
            page.evaluate("document.getElementById('copy-link').click()")
            copied = page.wait_for("document.getElementById('copy-done').textContent !== ''", 5) is not None
            check(copied and (page.evaluate("document.getElementById('copy-area').hidden") or
                              page.evaluate("document.getElementById('copy-text').value") == main_url),
                  'without %s the button gives the link to copy' % name,
                  page.evaluate("document.getElementById('copy-done').textContent"))

    no_data = Server(site_variant(site, work, 'no_data', drop=['data.pack']))
    servers.append(no_data)
    page = browser.new_page()
    page.navigate(no_data.url)
    check(page.wait_for(failure_shown('data') + " && !document.getElementById('retry').hidden", 60) is not None,
          'a failed download of the data says so and offers to try again')
    page = browser.new_page()
    page.navigate('file://' + os.path.join(os.path.abspath(site), 'index.html'))
    check(page.wait_for(failure_shown('file'), 30) is not None, 'opened from file://, the page says so')


def run(site, native_build):
    xmrender = os.path.join(native_build, 'tools', 'xmrender', 'xmrender')
    work = tempfile.mkdtemp(prefix='tw_web_test_')
    servers = []
    browser = None
    try:
        native = native_frame(native_build, work)
        urls = {build: serve_build(site, work, build, servers) for build in BUILDS}
        no_picture = site_variant(site, work, 'no_l1', leave_out_data='l1.bmp')
        no_picture_urls = {build: serve_build(no_picture, work, build, servers) for build in BUILDS}
        # Sound without a user's gesture too, for the pages opened by a script's click below.
        browser = cdp.Browser(extra_flags=['--autoplay-policy=no-user-gesture-required'])
        for build in BUILDS:
            check_desktop(browser, urls[build], build, native, xmrender, work)
            check_bad_input(browser, urls[build], no_picture_urls[build], build)
        check_fragment_greeting(browser, urls['threads'])
        check_site_failures(browser, site, urls['threads'], work, servers)
        phone_checks.run(browser, urls)
        studio_checks.run(browser, urls, native_build, work)
        sound_checks.run(browser, site, urls, native_build, work, servers)
        video_checks.run(browser, site, native_build, work, servers)
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
    return summary(began)


if __name__ == '__main__':
    sys.exit(main())
