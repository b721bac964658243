"""The greeting on a phone: Chromium with a phone's screen (390 x 844 upright and 844 x 390 across) and touch,
driven by touch events alone, in both builds.

Checks: the opening says "Tap to open the greeting" and names no key; a tap starts the greeting; the canvas
lies inside the viewport, 4:3 within 1 %, as large as the viewport allows in fullscreen and at most its own
size in a window; a tap shows the two controls (named for assistive technology, a fingertip in size), which
switch to the window and back and end the greeting; an upright phone gets the hint to turn it; the end
screen's "Start again" works by touch; no key event reaches the page. With element fullscreen taken away
before the page runs (as on an iPhone), no dialog comes and the greeting fills the viewport."""
import json

from web_support import DIALOG_OPEN, ENDED, OPENING, check

SCREENS = ((390, 844), (844, 390))
# The canvas's box, the viewport, the drawing buffer and the mode.
BOX = ("(() => { const c = document.getElementById('canvas'); if (!c) return null;"
       " const r = c.getBoundingClientRect();"
       " return [r.left, r.top, r.width, r.height, innerWidth, innerHeight, c.width, c.height,"
       " !!document.fullscreenElement || document.getElementById('stage').classList.contains('viewport-fullscreen')];"
       " })()")
ASPECT_TOLERANCE = 0.01
MIN_CONTROL = 44   # CSS pixels: a fingertip
KEYS_SEEN = ("window.keysSeen = 0; addEventListener('keydown', () => keysSeen++, true);"
             " addEventListener('keyup', () => keysSeen++, true);")


def centre(page, element_id):
    box = json.loads(page.evaluate("JSON.stringify(document.getElementById('%s').getBoundingClientRect())"
                                   % element_id))
    return box['x'] + box['width'] / 2, box['y'] + box['height'] / 2


def tap_control(page, width, height, control):
    """A tap on the greeting shows the controls; then a tap on one of them."""
    page.tap(width / 2, height / 4)
    if page.wait_for("!document.getElementById('controls').hidden", 3) is None:
        return False
    page.tap(*centre(page, control))
    return True


def box_fits(box, fullscreen):
    """Whether the canvas lies whole inside the viewport, 4:3, as large as it may be; and why not."""
    if box is None:
        return False, 'no canvas'
    left, top, width, height, view_width, view_height, buffer_width, buffer_height, mode = box
    inside = left >= -0.5 and top >= -0.5 and left + width <= view_width + 0.5 and top + height <= view_height + 0.5
    aspect = abs(width / height / (4.0 / 3.0) - 1.0) <= ASPECT_TOLERANCE if height > 0 else False
    largest = min(view_width, view_height * 4.0 / 3.0)
    if not fullscreen:
        largest = min(largest, buffer_width)
    size = abs(width - largest) <= 1.0
    detail = '%.1f x %.1f at (%.1f, %.1f) in %d x %d, drawing buffer %d x %d, %s' % (
        width, height, left, top, view_width, view_height, buffer_width, buffer_height,
        'fullscreen' if mode else 'window')
    return inside and aspect and size and mode == fullscreen, detail


def check_box(page, fullscreen, name):
    page.pump(0.3)   # the page lays the canvas out on the browser's resize
    fits, detail = box_fits(page.evaluate(BOX), fullscreen)
    return check(fits, name, detail)


def check_screen(browser, url, build, width, height):
    """Open, both modes, the controls, the end and (upright) starting again, by touch alone."""
    label = '%s, %d x %d' % (build, width, height)
    page = browser.new_page()
    page.emulate_phone(width, height)
    page.before_scripts(KEYS_SEEN)
    page.navigate(url)
    if not check(page.wait_for(OPENING, 60) is not None, '%s: the opening screen shows' % label):
        return
    opening = page.evaluate("document.getElementById('opening').innerText")
    check('Tap to open the greeting' in opening and 'F1' not in opening and 'Esc' not in opening,
          '%s: the opening says "Tap to open the greeting" and names no key' % label, repr(opening))
    page.tap(width / 2, height / 2)
    started = page.wait_for("tarnwick.frames > 0 || %s" % DIALOG_OPEN, 30)
    if not check(started is not None and not page.evaluate(DIALOG_OPEN), '%s: a tap starts the greeting' % label,
                 'a dialog came' if started is not None else 'no frame in 30 s'):
        return
    check_box(page, True, '%s: fullscreen: the whole picture, 4:3, as large as the screen allows' % label)
    check(page.evaluate("!document.getElementById('turn-hint').hidden") == (height > width),
          '%s: the hint to turn the phone shows %s' % (label, 'upright' if height > width else 'only upright'))

    if not check(tap_control(page, width, height, 'control-switch'), '%s: a tap shows the controls' % label):
        return
    names = page.evaluate("[...document.querySelectorAll('#controls button')].map(b => [b.getAttribute('aria-label'),"
                          " b.getBoundingClientRect().width, b.getBoundingClientRect().height])")
    check(all(name and w >= MIN_CONTROL and h >= MIN_CONTROL for name, w, h in names),
          '%s: both controls have a name and a fingertip\'s size' % label, repr(names))
    page.wait_for("document.getElementById('canvas') && document.getElementById('canvas').width === 640", 10)
    check_box(page, False, '%s: the switch control gives the window, whole and 4:3' % label)
    tap_control(page, width, height, 'control-switch')
    page.wait_for("document.getElementById('stage').classList.contains('viewport-fullscreen') || "
                  "!!document.fullscreenElement", 10)
    check(not page.evaluate(DIALOG_OPEN), '%s: and back to fullscreen without a question' % label)
    check_box(page, True, '%s: fullscreen again: the whole picture, 4:3' % label)
    tap_control(page, width, height, 'control-end')
    check(page.wait_for(ENDED, 10) is not None and page.evaluate("tarnwick.exitCode") == 0,
          '%s: the end control ends the greeting' % label, 'exit code %s' % page.evaluate("tarnwick.exitCode"))
    if height > width:
        page.tap(*centre(page, 'again'))
        again = page.wait_for(OPENING, 60) is not None
        if again:
            page.tap(width / 2, height / 2)
        check(again and page.wait_for("tarnwick.frames > 5", 30) is not None,
              '%s: "Start again" by touch opens the greeting anew' % label)
    check(page.evaluate("keysSeen") == 0, '%s: no key event on the way' % label, '%s' % page.evaluate("keysSeen"))
    check(not page.console_errors, '%s: no console error on the way' % label, '; '.join(page.console_errors[:3]))


def check_without_element_fullscreen(browser, url, build):
    """A browser without element fullscreen (as on an iPhone): no question, the greeting fills the viewport."""
    width, height = SCREENS[0]
    label = '%s, %d x %d without element fullscreen' % (build, width, height)
    page = browser.new_page()
    page.emulate_phone(width, height)
    page.before_scripts("delete Element.prototype.requestFullscreen; delete Element.prototype.webkitRequestFullscreen;")
    page.navigate(url)
    page.wait_for(OPENING, 60)
    page.tap(width / 2, height / 2)
    started = page.wait_for("tarnwick.frames > 5 || %s" % DIALOG_OPEN, 30)
    check(started is not None and not page.evaluate(DIALOG_OPEN), '%s: no dialog comes' % label)
    check_box(page, True, '%s: the greeting fills the viewport, whole and 4:3' % label)
    tap_control(page, width, height, 'control-end')
    page.wait_for(ENDED, 10)


def run(browser, urls):
    for build, url in urls.items():
        for width, height in SCREENS:
            check_screen(browser, url, build, width, height)
        check_without_element_fullscreen(browser, url, build)
