#!/usr/bin/python3
"""xeld's web panel in a real headless Chromium, against a real xeld and xelsim.

usage: WebPanelTest.py XELD XELSIM REGSVR LIBXELOR SCREENSHOT_DIR

One run walks the page through a unit's life: loaded without a console error,
front-panel changes shown, meters on the console's scale, a format chosen in
the page reaching the unit, the link lost and found, xeld restarted with a
token. Screenshots go to SCREENSHOT_DIR/web-*.png. Every failure exits non-zero,
a missing browser included.
"""
import fcntl
import json
import os
import re
import select
import socket
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request

XELD, XELSIM, REGSVR, CORE, SHOTS = sys.argv[1:6]
CHROMIUM, CHROMEDRIVER = '/usr/bin/chromium', '/usr/bin/chromedriver'
WAIT = 5  # seconds a change may take to show in the page
UNIT_PORT = 10001

scratch = tempfile.TemporaryDirectory(prefix='xeld-web-')
env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(scratch.name, 'home'),
           XELOR_SYSTEM_ROOT=os.path.join(scratch.name, 'system'))
os.makedirs(env['XDG_CONFIG_HOME'])
os.makedirs(env['XELOR_SYSTEM_ROOT'])


STARTED = []  # every process started here, ended at exit whatever happened


def fail(why):
    raise AssertionError(why)


def wait_for(what, check, timeout=WAIT):
    end = time.monotonic() + timeout
    while True:
        got = check()
        if got:
            return got
        if time.monotonic() > end:
            fail(f'not within {timeout} s: {what}')
        time.sleep(0.1)


def lease_loopback():
    """A 127.0.0.N whose unit port is free, locked as the C++ tests lock it."""
    for n in range(2 + os.getpid() % 250, 2 + os.getpid() % 250 + 250):
        n = 2 + (n - 2) % 250
        lock = open(f'/tmp/xelor-loopback-{n}.lock', 'a')
        try:
            fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
            with socket.socket() as s:
                s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
                s.bind((f'127.0.0.{n}', UNIT_PORT))
            return f'127.0.0.{n}', lock
        except OSError:
            lock.close()
    fail('no free loopback address')


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


class Xelsim:
    """The unit: front panel on stdin, frame log in a file."""

    def __init__(self, address, name):
        self.log_path = os.path.join(scratch.name, f'{name}.log')
        self.proc = subprocess.Popen(
            [XELSIM, '--tcp', f'{address}:{UNIT_PORT}', '--seed', '7', '--log', self.log_path],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, env=env)
        STARTED.append(self.proc)
        line = self.line(5)
        if not line.startswith('xelsim: listening on'):
            fail(f'xelsim did not start: {line!r}')

    def line(self, timeout):
        if not select.select([self.proc.stdout], [], [], timeout)[0]:
            fail('xelsim did not answer')
        return self.proc.stdout.readline().strip()

    def panel(self, command):
        self.proc.stdin.write(command + '\n')
        self.proc.stdin.flush()
        answer = self.line(5)
        if answer.startswith('error'):
            fail(f'xelsim panel "{command}": {answer}')
        return answer

    def received(self):
        with open(self.log_path) as f:
            return [e.get('text') for e in map(json.loads, f) if e.get('dir') == 'rx']

    def kill(self):
        self.proc.kill()
        self.proc.wait()


class Xeld:
    def __init__(self, address, port, *args):
        self.port = port
        self.err = open(os.path.join(scratch.name, f'xeld-{time.monotonic()}.err'), 'w+')
        self.proc = subprocess.Popen(
            [XELD, '--address', address, '--listen', f'127.0.0.1:{port}', '--retry-max', '1',
             '--ex-threshold', '25', *args], stdout=subprocess.DEVNULL, stderr=self.err, env=env)
        STARTED.append(self.proc)
        wait_for('xeld serving', lambda: self.request('GET', '/v1/unit')[0] == 200)
        wait_for('xeld connected to xelsim', lambda: self.request('GET', '/v1/unit')[1].get('state') == 'connected',
                 15)

    def request(self, method, path, body=None, headers=None):
        req = urllib.request.Request(f'http://127.0.0.1:{self.port}{path}', method=method, headers=headers or {},
                                     data=None if body is None else json.dumps(body).encode())
        try:
            with urllib.request.urlopen(req, timeout=15) as r:
                raw = r.read()
                return r.status, (json.loads(raw) if r.headers.get_content_type() == 'application/json' else raw), r.headers
        except urllib.error.HTTPError as e:
            return e.code, json.loads(e.read() or b'{}'), e.headers
        except OSError:
            return None, {}, {}

    def stop(self):
        self.proc.terminate()
        if self.proc.wait(10) != 0:
            fail('xeld did not end cleanly:\n' + open(self.err.name).read())


def browser():
    for path in (CHROMIUM, CHROMEDRIVER):
        if not os.access(path, os.X_OK):
            fail(f'{path} is missing: run scripts/install-deps')
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    opts = webdriver.ChromeOptions()
    opts.binary_location = CHROMIUM
    for a in ('--headless=new', '--disable-gpu', '--disable-dev-shm-usage', '--no-proxy-server',
              '--hide-scrollbars', '--window-size=1280,1000', f'--user-data-dir={scratch.name}/chromium'):
        opts.add_argument(a)
    if os.geteuid() == 0:
        opts.add_argument('--no-sandbox')
    opts.set_capability('goog:loggingPrefs', {'browser': 'ALL'})
    # A package build's HOME may not be writable; the browser keeps its files here.
    service = Service(CHROMEDRIVER, env=dict(os.environ, HOME=scratch.name))
    return webdriver.Chrome(service=service, options=opts)


class Page:
    def __init__(self, driver):
        self.d = driver

    def js(self, script, *args):
        return self.d.execute_script(script, *args)

    def text(self, element_id):
        return self.js('return document.getElementById(arguments[0]).textContent.trim()', element_id)

    def banner(self):
        return self.js('const b = document.getElementById("banner");'
                       'return b.hidden ? null : [b.dataset.state, b.textContent.trim()]')

    def formats(self):
        """(name, current, enabled) of the eight format buttons."""
        return self.js('return [...document.querySelectorAll("#formats button")]'
                       '.map(b => [b.textContent, b.getAttribute("aria-pressed") === "true", !b.disabled])')

    def meters(self):
        return self.js('return [...document.querySelectorAll("#meter-bars [role=meter]")]'
                       '.map(m => Number(m.getAttribute("aria-valuenow")))')

    def visible(self, element_id):
        return self.js('const e = document.getElementById(arguments[0]); return !!e && e.offsetParent !== null',
                       element_id)

    def severe_log(self):
        return [e['message'] for e in self.d.get_log('browser') if e['level'] == 'SEVERE']

    def shoot(self, name, width):
        height = 1200 if width < 600 else 1000
        self.d.execute_cdp_cmd('Emulation.setDeviceMetricsOverride',
                               {'width': width, 'height': height, 'deviceScaleFactor': 1, 'mobile': width < 600})
        time.sleep(0.4)
        full = self.js('return document.documentElement.scrollHeight')
        self.d.execute_cdp_cmd('Emulation.setDeviceMetricsOverride',
                               {'width': width, 'height': full, 'deviceScaleFactor': 1, 'mobile': width < 600})
        time.sleep(0.3)
        if width < 600 and self.js('return document.documentElement.scrollWidth') > width:
            fail(f'the page is wider than {width} px')
        self.d.save_screenshot(os.path.join(SHOTS, f'web-{name}-{width}.png'))
        self.d.execute_cdp_cmd('Emulation.clearDeviceMetricsOverride', {})


def main():
    from selenium.webdriver.common.keys import Keys
    os.makedirs(SHOTS, exist_ok=True)
    if subprocess.run([REGSVR, CORE], env=env, capture_output=True).returncode != 0:
        fail('regsvr could not register the core')
    address, lease = lease_loopback()
    sim = Xelsim(address, 'unit')
    port = free_port()
    xeld = Xeld(address, port)

    # The page itself: its headers, public without a token.
    status, body, headers = xeld.request('GET', '/')
    assert status == 200 and headers['Content-Type'].startswith('text/html'), (status, headers)
    assert "default-src 'none'" in headers['Content-Security-Policy'] and headers['X-Content-Type-Options'] == 'nosniff'
    assert headers['Cache-Control'] == 'no-cache'
    assert xeld.request('GET', '/panel.js')[2]['Content-Type'].startswith('text/javascript')

    driver = browser()
    page = Page(driver)
    try:
        driver.get(f'http://127.0.0.1:{port}/')
        wait_for('the page shows the unit connected', lambda: page.banner() is None and page.text('processor-name') == 'Default')
        assert page.text('unit-address') == address
        assert [f[0] for f in page.formats()][0] == 'Analog 2ch' and page.formats()[0][1], page.formats()

        # Meters move with the unit's own readings, then sit where the console
        # would put them: order L C R Ls Rs SW 7 8, 7 and 8 cut below 25.
        first = page.meters()
        wait_for('the meters move', lambda: page.meters() != first)
        sim.panel('vu 4095 100 500 10 50 200 10 20')  # L R C S LS RS LE RE
        wait_for('the held levels on the console scale',
                 lambda: page.meters() == [60, 54, 41, 35, 46, 22, 0, 27] or None)
        sim.panel('vu auto')
        time.sleep(0.5)
        page.shoot('connected', 1280)
        page.shoot('connected', 390)

        # The unit's own buttons show in the page.
        sim.panel('button 3')
        wait_for('front-panel format 3 marked current', lambda: page.formats()[2][1])
        sim.panel('film on')
        wait_for('front-panel film mode shown', lambda: page.text('film') == 'On')
        assert page.severe_log() == []

        # A format chosen in the page: pending, then confirmed once the unit took it.
        page.js('window.changeStates = [];'
                'new MutationObserver(() => changeStates.push(document.getElementById("change").dataset.state))'
                '.observe(document.getElementById("change"), {attributes: true, attributeFilter: ["data-state"]})')
        sent = len(sim.received())
        driver.find_element('css selector', '#formats button[data-format="5"]').click()
        wait_for('the change confirmed', lambda: page.js('return changeStates.at(-1)') == 'confirmed')
        assert page.js('return changeStates') == ['pending', 'confirmed'], page.js('return changeStates')
        assert page.formats()[5][1], page.formats()
        assert 'button 6' in sim.received()[sent:], sim.received()[sent:]
        assert json.loads(sim.panel('dump'))['button'] == 6
        assert page.severe_log() == []

        # The link lost: the banner says so and counts; a unit back clears it.
        sim.kill()
        wait_for('the reconnecting banner', lambda: (page.banner() or [''])[0] == 'reconnecting', 15)
        wait_for('the time since the loss', lambda: re.search(r'link lost for [1-9] s', page.banner()[1]), 5)
        assert page.meters() == [0] * 8 and not any(f[2] for f in page.formats())
        page.shoot('reconnecting', 1280)
        page.shoot('reconnecting', 390)
        sim = Xelsim(address, 'unit-again')
        wait_for('the banner cleared after reconnecting', lambda: page.banner() is None, 15)
        assert page.severe_log() == []

        # xeld itself gone, then back with a token: the page finds it again by
        # itself and offers no change until a token is given.
        xeld.stop()
        wait_for('"server not reachable"',
                 lambda: (page.banner() or ['', ''])[1].startswith('Server not reachable'), 10)
        page.shoot('unreachable', 390)
        token_file = os.path.join(scratch.name, 'token')
        with open(os.open(token_file, os.O_WRONLY | os.O_CREAT, 0o600), 'w') as f:
            f.write('s3cret-booth\n')
        xeld = Xeld(address, port, '--token-file', token_file)
        wait_for('the page back after the restart', lambda: page.banner() is None and page.visible('token-form'), 15)
        assert not page.visible('controls') and not any(f[2] for f in page.formats()), page.formats()
        page.shoot('token', 390)
        host = {'Host': f'127.0.0.1:{port}', 'Content-Type': 'application/json'}
        assert xeld.request('PUT', '/v1/members/Xel.Mute', {'value': True}, host)[0] == 401
        assert xeld.request('GET', '/')[0] == 200, 'the page itself needs no token'
        assert json.loads(sim.panel('dump'))['muted'] is False
        # Requests cut by the restart itself are the browser's notes, not the page's errors.
        noise = [m for m in page.severe_log() if not re.search(r'/v1/\S+ - Failed to load resource: net::ERR_', m)]
        assert noise == [], noise

        # A wrong token: the change is refused in the server's words, never
        # taken for done; the right one then goes through.
        def give_token(token):
            driver.find_element('id', 'token').send_keys(token, Keys.ENTER)
            wait_for('the controls after the token', lambda: page.visible('controls') and all(f[2] for f in page.formats()))

        give_token('guess')
        driver.find_element('id', 'mute-button').click()
        wait_for('the refusal', lambda: page.text('change').startswith("Mute: refused – a change needs the server's token"))
        assert page.text('mute') == 'Not muted'
        driver.find_element('id', 'token-forget').click()
        wait_for('the controls withheld again', lambda: not page.visible('controls'))
        give_token('s3cret-booth')
        driver.find_element('id', 'mute-button').send_keys(Keys.ENTER)  # from the keyboard
        wait_for('mute confirmed', lambda: page.text('change') == 'Mute: confirmed' and page.text('mute') == 'Muted')
        assert json.loads(sim.panel('dump'))['muted'] is True
        noise = [m for m in page.severe_log() if '401 (Unauthorized)' not in m]
        assert noise == [], noise
    except Exception:
        print('page:', page.js('return document.body.innerText'), '\nmeters:', page.meters(),
              '\nbrowser log:', driver.get_log('browser'), '\nxeld:', open(xeld.err.name).read()[-2000:],
              '\nunit received:', sim.received()[-10:], file=sys.stderr)
        driver.save_screenshot(os.path.join(SHOTS, 'web-failure.png'))
        raise
    finally:
        driver.quit()
        xeld.stop()
        sim.kill()
        lease.close()


if __name__ == '__main__':
    try:
        main()
    except AssertionError as e:
        print(f'FAILED: {e}', file=sys.stderr)
        raise
    finally:
        for proc in STARTED:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
    print('web panel: all checks passed')
