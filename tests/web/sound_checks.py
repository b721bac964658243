"""The greeting's sound where the browser makes it hard: a context at another rate, a frozen tab, a slow
processor.

Checks: with the audio context forced to 48,000 Hz (both builds) the played count still follows the wall
clock at the song's speed within 2 %, and a held note of the tone song keeps its pitch against xmrender's
render within 10 cents; frozen for 5 s and thawed (both builds), the worklet's captured sound holds no piece
of the song twice; with the processor four times slower (the build without threads, whose main thread
mixes) 20 s pass without a starved quantum; with the page's own thread held up longer than the ring lasts
(the same build), the worklet plays silence where nothing new was mixed and then goes on with the song,
nothing heard twice."""
import math
import os
import subprocess

from web_support import (
    DIALOG_OPEN, OPENING, OUTPUT_RATE, ROOT, STALL_MS, answer_dialog, check, check_ahead, check_audio_rate, figures,
    heard_twice, left_channel, longest_stall_ms, pitch, read_capture, record, render, serve_build, site_variant,
    song_places)

FORCED_RATE = 48000
PITCH_CENTS = 10
FREEZE_SECONDS = 5
HELD_SECONDS = 3
THROTTLE_SECONDS = 20
# Share of the captured song's pieces that must be found in the render for the capture to tell anything.
FOUND_SHARE = 0.9
FORCE_RATE = ("(() => { const Context = window.AudioContext; window.AudioContext = class extends Context {"
              " constructor(options) { super(Object.assign({}, options, {sampleRate: %d})); } }; })();"
              % FORCED_RATE)


def start(page, url):
    """Opens the greeting with a click; a refused fullscreen is answered Yes. True when it runs."""
    page.navigate(url)
    if page.wait_for(OPENING, 60) is None:
        return False
    page.click(400, 300)
    if page.wait_for("tarnwick.frames > 0 || %s" % DIALOG_OPEN, 30) is None:
        return False
    if page.evaluate(DIALOG_OPEN):
        answer_dialog(page, 'dialog-yes')
    return page.wait_for("tarnwick.frames > 0 && tarnwick.audio.state === 'running'", 30) is not None


def check_other_rate(browser, url, build, tone, xmrender, work):
    label = '%s, context at %d Hz' % (build, FORCED_RATE)
    page = browser.new_page()
    page.before_scripts(FORCE_RATE)
    if not check(start(page, url + '?test&capture=6'), '%s: the greeting plays' % label,
                 'tarnwick.error %s' % page.evaluate("tarnwick.error")):
        return
    check(page.evaluate("tarnwick.audio.rate") == FORCED_RATE, '%s: the context runs at that rate' % label,
          '%s Hz' % page.evaluate("tarnwick.audio.rate"))
    check_audio_rate(page, label, tolerance=0.02)
    heard = read_capture(page)
    if not check(heard is not None, '%s: the worklet kept what it played' % label):
        return
    # From the second second to the fifth: the note is held and steady there.
    got = pitch(left_channel(heard)[FORCED_RATE:5 * FORCED_RATE], FORCED_RATE)
    want = pitch(left_channel(render(xmrender, tone, 6, os.path.join(work, 'tone.wav')))[OUTPUT_RATE:5 * OUTPUT_RATE],
                 OUTPUT_RATE)
    cents = 1200 * math.log2(got / want) if got > 0 and want > 0 else float('inf')
    check(abs(cents) <= PITCH_CENTS, '%s: a held note keeps its pitch within %d cents' % (label, PITCH_CENTS),
          '%.3f Hz against the render\'s %.3f Hz: %+.2f cents' % (got, want, cents))


def check_freeze(browser, url, build, xmrender, work):
    label = '%s, frozen %d s' % (build, FREEZE_SECONDS)
    page = browser.new_page()
    if not check(start(page, url + '?test&capture=%d' % (FREEZE_SECONDS + 7)), '%s: the greeting plays' % label):
        return
    page.pump(2.0)
    page.set_frozen(True)
    page.pump(FREEZE_SECONDS)
    page.set_frozen(False)
    heard = read_capture(page)
    if not check(heard is not None, '%s: the worklet kept what it played' % label):
        return
    places = song_places(heard, render(xmrender, os.path.join(ROOT, 'data', 'glimrook.xm'), 30,
                                       os.path.join(work, 'freeze.wav')))
    found = sum(1 for _, place in places if place >= 0)
    twice = heard_twice(places)
    detail = '%d of %d pieces of 20 ms found in the song; %d starved quanta' % (
        found, len(places), page.evaluate("tarnwick.audio.starved"))
    if twice:
        detail += '; heard again at %s' % ', '.join('%.2f s (song %.2f s)' % (at / OUTPUT_RATE, place / OUTPUT_RATE)
                                                    for at, place in twice[:3])
    check(not twice and len(places) > 0 and found >= FOUND_SHARE * len(places),
          '%s and thawed: the sound played holds no piece of the song twice' % label, detail)


def check_held_back(browser, url, build, xmrender, work):
    """The page's own thread kept busy for longer than the ring lasts (without threads it is the one that
    mixes): the worklet plays silence where nothing new was mixed, counts it, and goes on with the song where
    it stopped; nothing is heard twice."""
    label = '%s, page held up %d s' % (build, HELD_SECONDS)
    page = browser.new_page()
    if not check(start(page, url + '?test&capture=%d' % (HELD_SECONDS + 8)), '%s: the greeting plays' % label):
        return
    page.pump(2.0)
    page.evaluate("(() => { const until = performance.now() + %d; while (performance.now() < until) {} })()"
                  % (HELD_SECONDS * 1000), timeout=HELD_SECONDS + 30)
    heard = read_capture(page)
    if not check(heard is not None, '%s: the worklet kept what it played' % label):
        return
    places = song_places(heard, render(xmrender, os.path.join(ROOT, 'data', 'glimrook.xm'), 30,
                                       os.path.join(work, 'held.wav')))
    starved = page.evaluate("tarnwick.audio.starved")
    twice = heard_twice(places)
    found = [at for at, place in places if place >= 0]
    detail = '%d starved quanta; %d of %d pieces of 20 ms found in the song, the last at %.2f s' % (
        starved, len(found), len(places), (found[-1] if found else 0) / OUTPUT_RATE)
    check(starved > 0 and not twice and found and found[-1] > (HELD_SECONDS + 4) * OUTPUT_RATE,
          '%s: silence where nothing new was mixed, then the song goes on; nothing twice' % label, detail)


def check_slow_processor(browser, url, build):
    label = '%s, processor 4 times slower' % build
    page = browser.new_page()
    if not check(start(page, url), '%s: the greeting plays' % label):
        return
    page.pump(2.0)
    before = page.evaluate("tarnwick.audio.starved")
    mixed = page.evaluate("tarnwick.audio.mainThreadMixMs")
    page.throttle_cpu(4)
    page.pump(THROTTLE_SECONDS)
    page.throttle_cpu(1)
    page.pump(0.5)
    starved = page.evaluate("tarnwick.audio.starved") - before
    share = (page.evaluate("tarnwick.audio.mainThreadMixMs") - mixed) / (10.0 * THROTTLE_SECONDS)
    gap = longest_stall_ms(page)
    figures.append(('%s: main thread mixing' % label, '%.1f %% of the time' % share))
    detail = '%d starved quanta; mixing took %.1f %% of the main thread; held up for %d ms at the longest' % (
        starved, share, gap)
    if starved > 0 and gap >= STALL_MS:
        record('SKIP', '%s: the host held the main thread back' % label, detail)
    else:
        check(starved == 0, '%s: %d s without a starved quantum' % (label, THROTTLE_SECONDS), detail)
        check_ahead(page, label)


def run(browser, site, urls, native_build, work, servers):
    """urls: the site's address for each build."""
    xmrender = os.path.join(native_build, 'tools', 'xmrender', 'xmrender')
    tone = os.path.join(work, 'tone.xm')
    subprocess.run([os.path.join(native_build, 'tests', 'web', 'make_tone_song'), tone], check=True, timeout=60)
    tone_site = site_variant(site, work, 'tone', put=[('glimrook.xm', tone)])
    for build, url in urls.items():
        check_other_rate(browser, serve_build(tone_site, work, build, servers), build, tone, xmrender, work)
        check_freeze(browser, url, build, xmrender, work)
    check_held_back(browser, urls['single'], 'single', xmrender, work)
    check_slow_processor(browser, urls['single'], 'single')
