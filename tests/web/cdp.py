"""A small client of the DevTools protocol for headless Chromium: starts the browser, opens pages, evaluates
expressions, presses keys, clicks and taps, types, scrolls by touch, picks and drops files, emulates a
phone's screen and touch, slows the processor down, freezes a page, takes screenshots, and collects each
page's console errors and uncaught exceptions; for the browser as a whole, lets downloads into a folder and
follows them, and lists its targets (pages, frames, workers).

Debian's python3-websocket carries the protocol's messages (run with Debian's /usr/bin/python3)."""
import base64
import json
import os
import shutil
import subprocess
import tempfile
import time
import urllib.request

import websocket


def stop_process(process):
    """Ends a process this module or its user started: politely, then for good after 10 s."""
    process.terminate()
    try:
        process.wait(timeout=10)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


class CdpError(Exception):
    pass


class Page:
    """One tab, driven through its own DevTools connection."""

    def __init__(self, websocket_url, page=True):
        self.socket = websocket.create_connection(websocket_url, timeout=60, suppress_origin=True)
        self.next_id = 0
        self.console_errors = []   # console.error calls and uncaught exceptions, as text
        self.downloads = {}        # the browser's connection: {guid: {'name', 'state'}} of the downloads begun
        self.file_choosers = []    # the file pickers the page opened (backendNodeId of their inputs)
        if page:
            self.send('Runtime.enable')
            self.send('Page.enable')

    def close(self):
        try:
            self.socket.close()
        except Exception:
            pass

    def _handle_event(self, message):
        method = message.get('method')
        params = message.get('params', {})
        if method == 'Runtime.consoleAPICalled' and params.get('type') == 'error':
            self.console_errors.append(' '.join(str(arg.get('value', arg.get('description', '')))
                                                for arg in params.get('args', [])))
        elif method == 'Browser.downloadWillBegin':
            self.downloads[params['guid']] = {'name': params.get('suggestedFilename'), 'state': 'begun'}
        elif method == 'Browser.downloadProgress' and params.get('guid') in self.downloads:
            self.downloads[params['guid']]['state'] = params.get('state')
        elif method == 'Page.fileChooserOpened':
            self.file_choosers.append(params.get('backendNodeId'))
        elif method == 'Runtime.exceptionThrown':
            details = params.get('exceptionDetails', {})
            self.console_errors.append(details.get('exception', {}).get('description') or
                                       details.get('text', 'exception'))

    def send(self, method, params=None, timeout=60):
        self.next_id += 1
        wanted = self.next_id
        self.socket.send(json.dumps({'id': wanted, 'method': method, 'params': params or {}}))
        deadline = time.monotonic() + timeout
        while True:
            self.socket.settimeout(max(0.1, deadline - time.monotonic()))
            try:
                message = json.loads(self.socket.recv())
            except websocket.WebSocketTimeoutException:
                raise CdpError('%s: no answer in %d s' % (method, timeout))
            if message.get('id') == wanted:
                if 'error' in message:
                    raise CdpError('%s: %s' % (method, message['error'].get('message')))
                return message.get('result', {})
            self._handle_event(message)

    def pump(self, seconds):
        """Takes in events for the time given."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            self.socket.settimeout(max(0.05, deadline - time.monotonic()))
            try:
                self._handle_event(json.loads(self.socket.recv()))
            except websocket.WebSocketTimeoutException:
                return

    def evaluate(self, expression, await_promise=False, timeout=60):
        result = self.send('Runtime.evaluate', {'expression': expression, 'returnByValue': True,
                                                'awaitPromise': await_promise}, timeout=timeout)
        if 'exceptionDetails' in result:
            raise CdpError('%s: %s' % (expression, result['exceptionDetails'].get('text')))
        return result.get('result', {}).get('value')

    def wait_for(self, expression, timeout, poll=0.1):
        """Evaluates until the value is true (an expression that throws counts as false, as while a page
        loads); returns the time it took, or None after the timeout."""
        start = time.monotonic()
        while time.monotonic() - start < timeout:
            try:
                if self.evaluate(expression):
                    return time.monotonic() - start
            except CdpError:
                pass
            self.pump(poll)
        return None

    def before_scripts(self, source):
        """Runs `source` in every document this tab loads from now on, before the page's own scripts."""
        self.send('Page.addScriptToEvaluateOnNewDocument', {'source': source})

    def navigate(self, url):
        self.send('Page.navigate', {'url': url})

    def click(self, x, y):
        for kind in ('mousePressed', 'mouseReleased'):
            self.send('Input.dispatchMouseEvent', {'type': kind, 'x': x, 'y': y, 'button': 'left', 'clickCount': 1})

    def press(self, code, key, key_code):
        """A key down and up, as a real keyboard gives them (code as in KeyboardEvent.code)."""
        for kind in ('rawKeyDown', 'keyUp'):
            self.send('Input.dispatchKeyEvent', {'type': kind, 'code': code, 'key': key,
                                                 'windowsVirtualKeyCode': key_code,
                                                 'nativeVirtualKeyCode': key_code})

    def emulate_phone(self, width, height):
        """A phone's screen of width x height CSS pixels (3 device pixels each) with touch and no mouse."""
        self.send('Emulation.setDeviceMetricsOverride', {
            'width': width, 'height': height, 'deviceScaleFactor': 3, 'mobile': True,
            'screenWidth': width, 'screenHeight': height,
            'screenOrientation': {'type': 'portraitPrimary' if height > width else 'landscapePrimary',
                                  'angle': 0 if height > width else 90}})
        self.send('Emulation.setTouchEmulationEnabled', {'enabled': True, 'maxTouchPoints': 5})
        self.send('Emulation.setEmitTouchEventsForMouse', {'enabled': True, 'configuration': 'mobile'})

    def tap(self, x, y):
        """A finger's tap at (x, y): a touch start and end, and nothing of a mouse or keyboard."""
        point = [{'x': x, 'y': y, 'radiusX': 4, 'radiusY': 4, 'force': 1}]
        self.send('Input.dispatchTouchEvent', {'type': 'touchStart', 'touchPoints': point})
        self.send('Input.dispatchTouchEvent', {'type': 'touchEnd', 'touchPoints': []})

    def type_text(self, text):
        """Text typed into the focused field as a keyboard's input method gives it (no key events)."""
        self.send('Input.insertText', {'text': text})

    def scroll_by_touch(self, x, y, distance, steps=10):
        """A finger's swipe from (x, y) that scrolls the page by about `distance` CSS pixels (positive: down):
        touch start, moves, end."""
        for step in range(steps + 1):
            point = [{'x': x, 'y': y - distance * step / steps, 'radiusX': 4, 'radiusY': 4, 'force': 1}]
            self.send('Input.dispatchTouchEvent', {'type': 'touchStart' if step == 0 else 'touchMove',
                                                   'touchPoints': point})
        self.send('Input.dispatchTouchEvent', {'type': 'touchEnd', 'touchPoints': []})

    def intercept_file_pickers(self):
        """From now on a file picker the page opens is not shown but reported (file_choosers)."""
        self.send('Page.setInterceptFileChooserDialog', {'enabled': True})

    def choose_files(self, paths, timeout=10):
        """Answers the file picker the page opened last (after intercept_file_pickers) with these files;
        False when none opened in time."""
        deadline = time.monotonic() + timeout
        while not self.file_choosers and time.monotonic() < deadline:
            self.pump(0.1)
        if not self.file_choosers:
            return False
        self.send('DOM.setFileInputFiles', {'files': list(paths), 'backendNodeId': self.file_choosers.pop()})
        return True

    def set_files(self, expression, paths):
        """Puts files into the file input the expression names, as a picker would (its change event fires)."""
        found = self.send('Runtime.evaluate', {'expression': expression})
        self.send('DOM.setFileInputFiles', {'files': list(paths), 'objectId': found['result']['objectId']})

    def drop_files(self, x, y, paths):
        """Files dragged from the desktop and dropped at (x, y)."""
        data = {'items': [], 'files': list(paths), 'dragOperationsMask': 1}
        for kind in ('dragEnter', 'dragOver', 'drop'):
            self.send('Input.dispatchDragEvent', {'type': kind, 'x': x, 'y': y, 'data': data})

    def throttle_cpu(self, rate):
        """The page's processor `rate` times slower (1: as it is)."""
        self.send('Emulation.setCPUThrottlingRate', {'rate': rate})

    def set_frozen(self, frozen):
        """Freezes the page as a browser freezes a tab in the background (no tasks, no frames), or thaws it."""
        self.send('Page.setWebLifecycleState', {'state': 'frozen' if frozen else 'active'})

    def screenshot_png(self):
        return base64.b64decode(self.send('Page.captureScreenshot', {'format': 'png'})['data'])


class Browser:
    """Headless Chromium with its own profile, ended (and its profile removed) by close()."""

    def __init__(self, width=800, height=600, extra_flags=()):
        self.profile = tempfile.mkdtemp(prefix='tw_chromium_')
        flags = ['--headless=new', '--enable-unsafe-swiftshader', '--remote-debugging-port=0',
                 '--user-data-dir=' + self.profile, '--window-size=%d,%d' % (width, height),
                 '--no-first-run', '--no-default-browser-check', '--disable-extensions',
                 '--disable-background-networking', '--mute-audio', '--hide-scrollbars']
        if os.geteuid() == 0:
            flags.append('--no-sandbox')   # Chromium's sandbox refuses to run as root
        self.process = subprocess.Popen([shutil.which('chromium') or 'chromium'] + flags + list(extra_flags) +
                                        ['about:blank'], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.port = self._wait_for_port(60)
        self.pages = []
        self.session = None   # the browser's own connection, opened when first needed

    def _wait_for_port(self, timeout):
        path = os.path.join(self.profile, 'DevToolsActivePort')
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise CdpError('chromium ended at start with code %d' % self.process.returncode)
            try:
                with open(path) as f:
                    return int(f.readline().strip())
            except (OSError, ValueError):
                time.sleep(0.1)
        raise CdpError('chromium did not open its DevTools port in %d s' % timeout)

    def new_page(self, url='about:blank'):
        request = urllib.request.Request('http://127.0.0.1:%d/json/new?%s' % (self.port, url), method='PUT')
        with urllib.request.urlopen(request, timeout=30) as response:
            target = json.loads(response.read())
        page = Page(target['webSocketDebuggerUrl'])
        self.pages.append(page)
        return page

    def browser_session(self):
        """The browser's own DevTools connection (not a page's): downloads and targets."""
        if self.session is None:
            with urllib.request.urlopen('http://127.0.0.1:%d/json/version' % self.port, timeout=30) as response:
                self.session = Page(json.loads(response.read())['webSocketDebuggerUrl'], page=False)
            self.pages.append(self.session)
        return self.session

    def allow_downloads(self, folder):
        """Downloads from now on go into `folder`, each file named by its guid; downloads() follows them."""
        self.browser_session().send('Browser.setDownloadBehavior', {
            'behavior': 'allowAndName', 'downloadPath': folder, 'eventsEnabled': True})

    def downloads(self):
        """{guid: {'name': suggested file name, 'state': 'begun', 'inProgress', 'completed' or 'canceled'}}."""
        session = self.browser_session()
        session.pump(0.05)
        return session.downloads

    def targets(self):
        """What the browser runs now: [{'type': 'page', 'iframe', 'worker'..., 'url': ...}]."""
        return self.browser_session().send('Target.getTargets')['targetInfos']

    def close(self):
        for page in self.pages:
            page.close()
        stop_process(self.process)
        shutil.rmtree(self.profile, ignore_errors=True)
