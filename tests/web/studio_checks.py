"""The studio page (make.html) in headless Chromium, in both builds.

On a desktop: the page loads with the intro's own greeting, its size and the long link's warning; a typed
greeting with characters without a glyph gets the intro's warning naming them, and its link, opened in a
fresh page, hands the program exactly the typed bytes; a text over the limit and a text file that is no
UTF-8 get the intro's messages and leave the studio usable; the intro's song, a test module, a damaged
module and a text file are described as xmrender --info describes them (title, channels, length) or refused
with its reason, a 50 MB file is refused before it is read; the preview plays the chosen text and song in
its frame with sound, and a change ends it by the intro's own Esc and starts it again, at most once a second
while typing. Once: the opening screen's "Make your own" leads to the studio without starting the greeting.

On a 390 x 844 touch screen: every control of the studio reached by swiping and used by taps alone."""
import json
import os
import re
import subprocess

from web_support import DIALOG_OPEN, ENDED, OPENING, ROOT, answer_dialog, check, dialog_says, record

TYPED = 'С Новым годом! € 🎄'
TYPED_WARNING = 'the greeting has characters without a glyph, shown as blanks: U+20AC €, U+1F384 🎄'
STUDIO_READY = "window.tarnwickStudio && tarnwickStudio.ready"
PREVIEW = "document.querySelector('#preview-box iframe')"
PREVIEW_VIEW = PREVIEW + ".contentWindow"
PREVIEW_PLAYING = ("(() => { const f = %s; const t = f && f.contentWindow.tarnwick; return !!t && t.frames > 5 && "
                   "t.audio.playedBytes > 0 && t.exitCode === null; })()" % PREVIEW)
LARGE_FILE_BYTES = 50 * 1024 * 1024
MIN_CONTROL = 44   # CSS pixels: a fingertip
# The studio's controls a reader uses, in the page's order, and what a tap on each must do.
PHONE_CONTROLS = ('greeting', 'greeting-open', 'greeting-reset', 'preview-start', 'song-own', 'song-open',
                  'song-intro', 'copy', 'length-fixed', 'length-seconds', 'length-song', 'video-start', 'video-cancel')


def text_of(page, element_id):
    return page.evaluate("document.getElementById('%s').textContent" % element_id)


def visible(page, element_id):
    return page.evaluate("!document.getElementById('%s').hidden" % element_id)


def replace_text(page, text):
    """Selects the whole text box and types over it."""
    page.evaluate("document.getElementById('greeting').focus(); document.getElementById('greeting').select()")
    page.type_text(text)
    page.pump(0.2)


def xmrender_info(xmrender, path):
    """What xmrender --info says of a song: {title, channels, length} or {error}."""
    done = subprocess.run([xmrender, path, '--info'], capture_output=True, text=True, timeout=120)
    if done.returncode != 0:
        return {'error': done.stderr.strip().split(': ', 2)[-1]}
    fields = dict(re.findall(r'^([A-Za-z ]+):\s+(.*)$', done.stdout, re.M))
    return {'title': fields['Title'], 'channels': int(fields['Channels']), 'length': fields['Length'].split(' ')[0]}


def song_files(native_build, work):
    """The intro's song, a test module, a damaged module (the signature and nothing the loader can take) and a
    text file."""
    tone = os.path.join(work, 'studio_tone.xm')
    subprocess.run([os.path.join(native_build, 'tests', 'web', 'make_tone_song'), tone], check=True, timeout=60)
    damaged = os.path.join(work, 'damaged.xm')
    with open(damaged, 'wb') as f:
        f.write(b'Extended Module: ' + bytes(400))
    text = os.path.join(work, 'notes.txt')
    with open(text, 'w') as f:
        f.write('Not a song at all.\n')
    return [os.path.join(ROOT, 'data', 'glimrook.xm'), tone, damaged, text]


def open_studio(page, url, label):
    page.navigate(url + 'make.html')
    ready = page.wait_for(STUDIO_READY, 60)
    return check(ready is not None, '%s: the studio loads and its program answers' % label,
                 'failure %s' % page.evaluate("window.tarnwickStudio && tarnwickStudio.failure") if ready is None
                 else '%.2f s' % ready)


def check_greeting(browser, page, label):
    """The intro's own greeting first; a typed one with blanks; its link in a fresh page; bad text."""
    intro = open(os.path.join(ROOT, 'scene', 'greeting.txt'), encoding='utf-8').read()
    count = len(intro.encode())
    check(page.evaluate("document.getElementById('greeting').value") == intro and
          text_of(page, 'greeting-count') == '{:,} of 65,536 bytes'.format(count),
          "%s: the text box holds the intro's own greeting, its size counted against the limit" % label,
          text_of(page, 'greeting-count'))
    check(visible(page, 'link-warning') and visible(page, 'qr-note'),
          '%s: its link (%d characters) is warned of as too long, and too long for a QR code' % (
              label, page.evaluate("tarnwickStudio.link.length")), text_of(page, 'link-warning'))

    replace_text(page, TYPED)
    check(text_of(page, 'greeting-warning') == TYPED_WARNING and visible(page, 'greeting-warning'),
          "%s: a typed greeting's characters without a glyph are named in the intro's warning" % label,
          repr(text_of(page, 'greeting-warning')))
    link = page.evaluate("tarnwickStudio.link")
    check(link.startswith(page.evaluate("new URL('index.html', location.href).href") + '#greeting=') and
          not visible(page, 'link-warning') and page.evaluate("document.getElementById('qr').width") > 0,
          '%s: its link is the greeting page with #greeting=, short enough for messengers, with a QR code' % label,
          link)

    fresh = browser.new_page()
    fresh.navigate(link)
    fresh.wait_for(OPENING, 60)
    fresh.click(400, 300)
    warned, caption, text = dialog_says(fresh)
    given = fresh.evaluate("Array.from(Module.FS.readFile('#greeting'))")
    check(bytes(given or []) == TYPED.encode() and warned and text.endswith(TYPED_WARNING.split(': ', 1)[1]),
          '%s: the link opened in a fresh page gives the program exactly the typed bytes' % label,
          '%r; %r' % (bytes(given or []), text))
    if warned:
        answer_dialog(fresh, 'dialog-ok')
        if fresh.wait_for("tarnwick.frames > 0 || %s" % DIALOG_OPEN, 30) and fresh.evaluate(DIALOG_OPEN):
            answer_dialog(fresh, 'dialog-yes')
        fresh.press('Escape', 'Escape', 0x1B)
        fresh.wait_for(ENDED, 10)

    replace_text(page, 'й' * 32769)
    check(text_of(page, 'greeting-error') == 'the greeting is larger than 64 KB' and
          page.evaluate("document.getElementById('copy').disabled && tarnwickStudio.link === ''"),
          '%s: a text over the limit gets the intro\'s message, and no link' % label,
          '%s; %s' % (text_of(page, 'greeting-count'), text_of(page, 'greeting-error')))
    replace_text(page, TYPED)
    check(not visible(page, 'greeting-error') and page.evaluate("tarnwickStudio.link") == link,
          '%s: mended, the studio goes on as before' % label)


def check_text_file(page, work, label):
    path = os.path.join(work, 'latin1.txt')
    with open(path, 'wb') as f:
        f.write(b'Gr\xfc\xdfe\nund Gl\xfcck')
    page.set_files("document.getElementById('greeting-file')", [path])
    page.wait_for("!document.getElementById('greeting-error').hidden", 10)
    check(text_of(page, 'greeting-error') == 'latin1.txt: the greeting is not UTF-8 text (line 1)' and
          page.evaluate("document.getElementById('greeting').value") == TYPED,
          "%s: a text file that is no UTF-8 gets the intro's message and leaves the text as it was" % label,
          text_of(page, 'greeting-error'))


def song_said(page, before):
    """Waits for the studio's answer about a song after `before` (the song line and error as they were)."""
    page.wait_for("JSON.stringify([document.getElementById('song-info').textContent, "
                  "document.getElementById('song-error').hidden ? '' : "
                  "document.getElementById('song-error').textContent]) !== %s" %
                  json.dumps(json.dumps(before, ensure_ascii=False, separators=(',', ':'))), 10)
    return [text_of(page, 'song-info'), text_of(page, 'song-error') if visible(page, 'song-error') else '']


def check_songs(page, songs, xmrender, work, label):
    """Each song against xmrender --info; then a 50 MB file; the studio keeps the last song it took."""
    page.wait_for("document.getElementById('song-info').textContent !== ''", 30)
    for path in songs:
        name = os.path.basename(path)
        before = [text_of(page, 'song-info'), text_of(page, 'song-error') if visible(page, 'song-error') else '']
        page.set_files("document.getElementById('song-file')", [path])
        info_line, error = song_said(page, before)
        expected = xmrender_info(xmrender, path)
        if 'error' in expected:
            check(error == 'cannot load %s: %s' % (name, expected['error']),
                  '%s: %s is refused with the loader\'s reason, as xmrender gives it' % (label, name),
                  '%r, xmrender: %r' % (error, expected['error']))
        else:
            described = page.evaluate("tarnwickStudio.song")
            title = '“%s”' % expected['title'] if expected['title'] else 'Untitled'
            check(error == '' and described is not None and described['title'] == expected['title'] and
                  described['channels'] == expected['channels'] and described['length'] == expected['length'] and
                  info_line == '%s: %s · %d channel%s · %s' % (name, title, expected['channels'],
                                                              '' if expected['channels'] == 1 else 's',
                                                              expected['length']),
                  '%s: %s is described as xmrender --info describes it' % (label, name),
                  '%r; xmrender: %r' % (info_line, expected))
    large = os.path.join(work, 'large.xm')
    with open(large, 'wb') as f:
        f.write(b'Extended Module: ')
        f.truncate(LARGE_FILE_BYTES)
    before = [text_of(page, 'song-info'), '']
    page.set_files("document.getElementById('song-file')", [large])
    info_line, error = song_said(page, before)
    check(error.startswith('cannot load large.xm: 50.0 MB is larger than the studio takes') and
          info_line == before[0],
          '%s: a 50 MB file is refused with its size, and the song in use stays' % label, error)


def check_preview(page, label, song_path):
    """The preview plays what is chosen, with sound; a change ends it cleanly and starts it again, at most
    once a second while typing."""
    page.send('Page.bringToFront')   # the link's fresh page came in front; a tab behind it draws no frames
    page.evaluate("document.getElementById('preview-start').click()")
    playing = page.wait_for(PREVIEW_PLAYING, 60)
    if not check(playing is not None, '%s: the preview plays in its frame, with sound' % label,
                 'frame state %s' % page.evaluate("(() => { const f = %s; return f && JSON.stringify("
                                                  "f.contentWindow.tarnwick); })()" % PREVIEW)):
        return
    given = page.evaluate("Array.from(%s.Module.FS.readFile('#greeting'))" % PREVIEW_VIEW)
    song = page.evaluate("Array.from(%s.Module.FS.readFile('#song'))" % PREVIEW_VIEW)
    check(bytes(given) == TYPED.encode() and bytes(song) == open(song_path, 'rb').read() and
          page.evaluate("%s.document.getElementById('canvas').width" % PREVIEW_VIEW) == 800 and
          not page.evaluate("%s.document.fullscreenElement !== null || %s.document.getElementById('stage')"
                            ".classList.contains('viewport-fullscreen')" % (PREVIEW_VIEW, PREVIEW_VIEW)),
          '%s: the preview runs in a window with the typed text and the chosen song' % label,
          '%d greeting bytes, %d song bytes' % (len(given), len(song)))
    page.evaluate("window.oldPreview = %s; true" % PREVIEW_VIEW)
    previews = page.evaluate("tarnwickStudio.previews")
    page.evaluate("document.getElementById('greeting').focus()")
    for character in ' Ура!':
        page.type_text(character)
        page.pump(0.1)
    page.pump(3.0)
    started = page.evaluate("tarnwickStudio.previews") - previews
    check(1 <= started <= 2, '%s: typing five characters in half a second starts the preview again once or '
                             'twice' % label, '%d new previews' % started)
    check(page.wait_for(PREVIEW_PLAYING, 60) is not None and
          page.evaluate("oldPreview.tarnwick.exitCode") == 0 and
          bytes(page.evaluate("Array.from(%s.Module.FS.readFile('#greeting'))" % PREVIEW_VIEW)) ==
          (TYPED + ' Ура!').encode(),
          '%s: the old preview ended by the intro\'s Esc, the new one plays the changed text' % label,
          'old exit code %s' % page.evaluate("oldPreview.tarnwick.exitCode"))


def check_desktop(browser, url, build, songs, xmrender, work):
    label = 'studio, desktop, ' + build
    page = browser.new_page()
    if not open_studio(page, url, label):
        return
    check(page.evaluate("tarnwickStudio.build") == build, '%s: the studio runs the build %s' % (label, build))
    check_greeting(browser, page, label)
    check_text_file(page, work, label)
    if build == 'threads':
        check_songs(page, songs, xmrender, work, label)
    else:
        page.set_files("document.getElementById('song-file')", [songs[1]])
        page.wait_for("tarnwickStudio.song !== null", 10)
    check(page.evaluate("tarnwickStudio.song !== null && !document.getElementById('link-song-note').hidden"),
          '%s: with a song of one\'s own, the studio says it cannot travel in the link' % label)
    check_preview(page, label, songs[1])
    check(not page.console_errors, '%s: no console error on the way' % label, '; '.join(page.console_errors[:3]))


def check_opening_link(browser, url):
    """The opening screen's link goes to the studio and does not start the greeting."""
    page = browser.new_page()
    page.before_scripts("addEventListener('click', e => { if (e.target.id === 'make-own') {"
                        " window.studioAsked = e.target.href; e.preventDefault(); } }, true);")
    page.navigate(url)
    page.wait_for(OPENING, 60)
    box = json.loads(page.evaluate("JSON.stringify(document.getElementById('make-own').getBoundingClientRect())"))
    page.click(box['x'] + box['width'] / 2, box['y'] + box['height'] / 2)
    page.pump(1.0)
    check(page.evaluate("window.studioAsked") == url + 'make.html' and page.evaluate("tarnwick.timing.tapMs") is None
          and page.evaluate(OPENING),
          'the opening\'s "Make your own" leads to the studio and does not start the greeting',
          'went to %s' % page.evaluate("window.studioAsked"))


def tap_element(page, element_id, height):
    """Swipes until the control (a choice: its label) lies in the viewport, then taps its centre; whether it
    could, and the size of what was tapped."""
    target = ("(() => { const e = document.getElementById('%s');"
              " return e.type === 'radio' ? e.closest('label') : e; })()"
              % element_id)
    box = None
    for _ in range(12):
        box = json.loads(page.evaluate("JSON.stringify(%s.getBoundingClientRect())" % target))
        if box['top'] >= 0 and box['bottom'] <= height:
            break
        # At the page's edge: a swipe on the text box scrolls the text.
        page.scroll_by_touch(6, height / 2, max(-250, min(250, box['top'] + box['height'] / 2 - height / 2)))
        # A tap while the page still glides only stops it, as on a phone: wait until it rests.
        position = None
        while position != page.evaluate("scrollY"):
            position = page.evaluate("scrollY")
            page.pump(0.3)
    else:
        return False, box
    page.tap(box['x'] + box['width'] / 2, box['y'] + box['height'] / 2)
    page.pump(0.2)
    return True, box


def check_phone(browser, url, songs, work):
    """Every control by touch alone on a phone held upright."""
    width, height = 390, 844
    label = 'studio, %d x %d touch' % (width, height)
    page = browser.new_page()
    page.emulate_phone(width, height)
    page.intercept_file_pickers()
    if not open_studio(page, url, label):
        return
    check(page.evaluate("document.documentElement.scrollWidth") <= width,
          '%s: nothing sticks out sideways' % label, '%d wide' % page.evaluate("document.documentElement.scrollWidth"))
    text_file = os.path.join(work, 'phone.txt')
    with open(text_file, 'w', encoding='utf-8') as f:
        f.write('Hello from the phone')
    sizes = []
    used = {}
    for control in PHONE_CONTROLS:
        reached, box = tap_element(page, control, height)
        sizes.append((control, round(box['width']), round(box['height'])))
        if not reached:
            used[control] = False
            continue
        if control == 'greeting':
            # Typed at the end of the intro's own greeting, which has no character without a glyph.
            used[control] = page.evaluate("document.activeElement.id") == 'greeting'
            if used[control]:
                page.type_text(TYPED)
                page.pump(0.3)
                used[control] = text_of(page, 'greeting-warning') == TYPED_WARNING
        elif control == 'greeting-open':
            used[control] = page.choose_files([text_file]) and page.wait_for(
                "document.getElementById('greeting').value === 'Hello from the phone'", 10) is not None
        elif control == 'greeting-reset':
            used[control] = page.wait_for("document.getElementById('greeting').value.includes('Happy New Year')",
                                          5) is not None
        elif control == 'preview-start':
            used[control] = page.wait_for(PREVIEW_PLAYING, 60) is not None
        elif control == 'song-own':
            # No song of one's own yet: the radio opens the picker.
            used[control] = page.choose_files([songs[1]]) and page.wait_for(
                "tarnwickStudio.song !== null && tarnwickStudio.song.name === 'studio_tone.xm'", 10) is not None
        elif control == 'song-open':
            used[control] = page.choose_files([songs[2]]) and page.wait_for(
                "!document.getElementById('song-error').hidden", 10) is not None
        elif control == 'song-intro':
            used[control] = page.wait_for("tarnwickStudio.song === null", 5) is not None
        elif control == 'copy':
            used[control] = page.wait_for("document.getElementById('copy-done').textContent !== ''", 5) is not None
        elif control in ('length-fixed', 'length-song'):
            used[control] = page.evaluate("document.getElementById('%s').checked" % control)
        elif control == 'length-seconds':
            used[control] = page.evaluate("document.activeElement.id === 'length-seconds' && "
                                          "document.getElementById('length-fixed').checked")
        elif control == 'video-start':
            # The video is begun (its progress moves), then cancelled by the next control.
            used[control] = page.wait_for("tarnwickStudio.video.state === 'making' && "
                                          "tarnwickStudio.video.fraction > 0", 120) is not None
        elif control == 'video-cancel':
            used[control] = page.wait_for("tarnwickStudio.video.state === 'cancelled'", 30) is not None
    missing = [control for control in PHONE_CONTROLS if not used.get(control)]
    check(not missing, '%s: every control reached by swiping and used by a tap' % label,
          'not: %s' % ', '.join(missing) if missing else '%d controls' % len(PHONE_CONTROLS))
    small = [s for s in sizes if s[0] not in ('greeting', 'length-seconds') and min(s[1], s[2]) < MIN_CONTROL]
    check(not small, "%s: every button and choice is a fingertip's size" % label, repr(small or sizes))
    record('INFO', '%s: the video button said: %s' % (label, page.evaluate("tarnwickStudio.video.message")))
    check(not page.console_errors, '%s: no console error on the way' % label, '; '.join(page.console_errors[:3]))


def run(browser, urls, native_build, work):
    """urls: the site's address for each build."""
    xmrender = os.path.join(native_build, 'tools', 'xmrender', 'xmrender')
    songs = song_files(native_build, work)
    for build, url in urls.items():
        check_desktop(browser, url, build, songs, xmrender, work)
    check_opening_link(browser, urls['threads'])
    check_phone(browser, urls['single'], songs, work)
