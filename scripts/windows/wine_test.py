#!/usr/bin/env python3
"""The Windows program under Wine, on the X server in DISPLAY (scripts/windows/test.sh starts one):
  show      the whole show at a fixed step to its end; the trace plays every scene once, in order
  pictures  five moments of that run against the native program's (compare_png.py's tolerance)
  escape    Escape ends a windowed show with status 0
  fullscreen  the same in full screen
  dialog    the setup dialog appears; unticking full screen and Enter on "Demo" start the show
  damaged   a damaged archive gives the native program's message and status
  help      --help and a bad option print what the native program prints, with its status
A check that cannot work under Wine here is reported as SKIPPED with the reason, never passed.
   wine_test.py --wine WINE64 --program DIR --native RUN_DIR --out DIR [--only a,b]"""
import argparse
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
COMPARE = os.path.join(HERE, '..', 'web', 'compare_png.py')
SIZE = '640x360'
SHOTS = [9000, 30000, 55000, 75000, 97000]
SETUP_CAPTION = 'Quorvanteplidusk - by the vok crew'
SHOW_CAPTION = 'Quorvanteplidusk'


class Skip(Exception):
    pass


class Failure(Exception):
    pass


class Program:
    """A program started in the background; what it printed is kept for the failure report."""

    def __init__(self, argv, cwd, env=None):
        self.out = tempfile.TemporaryFile()
        self.err = tempfile.TemporaryFile()
        self.proc = subprocess.Popen(argv, cwd=cwd, stdout=self.out, stderr=self.err, stdin=subprocess.DEVNULL,
                                     env=env)

    def wait(self, timeout):
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            return None

    def printed(self):
        text = ''
        for name, f in (('stdout', self.out), ('stderr', self.err)):
            f.seek(0)
            body = f.read().decode('utf-8', 'replace')
            text += '---- %s ----\n%s' % (name, body)
        return text

    def stderr(self):
        self.err.seek(0)
        return self.err.read().decode('utf-8', 'replace')

    def stdout(self):
        self.out.seek(0)
        return self.out.read().decode('utf-8', 'replace')

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.out.close()
        self.err.close()


def ended(status):
    """How a program ended, in words: a time limit and a signal are named as such, never shown as
    a status (Program.wait gives None for a program it had to stop, Popen -N for signal N)."""
    if status is None:
        return 'did not end within its time limit and was stopped'
    if status < 0:
        try:
            return 'was killed by %s' % signal.Signals(-status).name
        except ValueError:
            return 'was killed by signal %d' % -status
    return 'ended with status %d' % status


def run(argv, cwd, timeout):
    p = Program(argv, cwd)
    try:
        status = p.wait(timeout)
        return status, p.stdout(), p.stderr(), p.printed()
    finally:
        p.close()


def wine_noise_free(text):
    # A 64-bit-only Wine says once per fresh prefix that it has no 32-bit rundll32; the console
    # streams of a Windows program end their lines with CR-LF.
    text = text.replace('\r\n', '\n')
    return '\n'.join(l for l in text.splitlines() if 'syswow64' not in l and not l.startswith('wine:'))


def find_window(name, timeout):
    """The id of a visible X window with exactly this name, or None."""
    end = time.time() + timeout
    while time.time() < end:
        r = subprocess.run(['xdotool', 'search', '--onlyvisible', '--name', '^%s$' % name],
                           capture_output=True, text=True)
        ids = r.stdout.split()
        if ids:
            return ids[0]
        time.sleep(0.2)
    return None


def keys(window, *names):
    r = subprocess.run(['timeout', '20', 'xdotool', 'windowfocus', '--sync', window, 'sleep', '0.2',
                        'key', '--delay', '30'] + list(names), capture_output=True, text=True)
    return r.returncode == 0


class Checks:
    def __init__(self, a):
        self.a = a
        self.wine = a.wine
        self.exe = os.path.join(a.program, 'Quorvanteplidusk.exe')
        self.native = os.path.join(a.native, 'Quorvanteplidusk')
        os.makedirs(a.out, exist_ok=True)

    def show(self):
        trace = os.path.join(self.a.out, 'wine-trace.jsonl')
        args = [self.wine, self.exe, 'DEBUG', '--headless', '--size', SIZE, '--fixed-step', '40', '--seed', '1',
                '--trace', trace]
        for t in SHOTS:
            args += ['--screenshot', str(t), os.path.join(self.a.out, 'wine-%d.png' % t)]
        status, _, _, printed = run(args, self.a.program, 1800)
        if status != 0:
            raise Failure('the show under Wine %s\n%s' % (ended(status), printed))
        # The show's own table decides how many scenes there are and in which order: each is seen
        # in one stretch of frames, none comes back, and the last fades to black and ends the show.
        order, last = [], None
        with open(trace, 'rb') as f:
            for line in f:
                frame = json.loads(line)
                scene = frame.get('scene')
                if scene is not None and (not order or order[-1] != scene):
                    if scene in order:
                        raise Failure('scene %s came back after %s' % (scene, order))
                    order.append(scene)
                last = frame
        if len(order) < 2 or last is None or last.get('fade') != 255:
            raise Failure('the trace played scenes %s and ended with %s, not the whole show to its black end'
                          % (order, last))
        if b'\r\n' in open(trace, 'rb').read():
            raise Failure('the trace has CR-LF line ends: it was written in text mode')
        return 'scenes %s in %d frames' % (order, sum(1 for _ in open(trace, 'rb')))

    def native_pictures_made_already(self):
        # The browser test makes the native pictures of the same moments at the same size, step
        # and seed just before (./run.sh test): taken when newer than the program and its archive.
        if not self.a.native_pictures:
            return False
        made_after = max(os.path.getmtime(self.native), os.path.getmtime(os.path.join(self.a.native, 'Quorvanteplidusk.vkr')))
        for t in SHOTS:
            src = os.path.join(self.a.native_pictures, 'native-%d.png' % t)
            if not os.path.exists(src) or os.path.getmtime(src) < made_after:
                return False
            with open(src, 'rb') as f:
                head = f.read(24)
            if '%dx%d' % (int.from_bytes(head[16:20], 'big'), int.from_bytes(head[20:24], 'big')) != SIZE:
                return False
        for t in SHOTS:
            shutil.copy(os.path.join(self.a.native_pictures, 'native-%d.png' % t), self.a.out)
        print('  native pictures from %s' % self.a.native_pictures)
        return True

    def pictures(self):
        if self.native_pictures_made_already():
            return self.compare_pictures()
        args = [self.native, 'DEBUG', '--headless', '--size', SIZE, '--fixed-step', '40', '--seed', '1',
                '--until', str(max(SHOTS))]
        for t in SHOTS:
            args += ['--screenshot', str(t), os.path.join(self.a.out, 'native-%d.png' % t)]
        status, _, _, printed = run(args, self.a.native, 1800)
        if status != 0:
            raise Failure('the native program %s\n%s' % (ended(status), printed))
        return self.compare_pictures()

    def compare_pictures(self):
        bad = []
        for t in SHOTS:
            wine_png = os.path.join(self.a.out, 'wine-%d.png' % t)
            if not os.path.exists(wine_png):
                raise Failure('no picture at %d ms from the show under Wine (the show check failed?)' % t)
            r = subprocess.run([sys.executable, COMPARE, wine_png, os.path.join(self.a.out, 'native-%d.png' % t)],
                               capture_output=True, text=True)
            print('  %5d ms: %s' % (t, r.stdout.strip() or r.stderr.strip()))
            if r.returncode != 0:
                bad.append(t)
        if bad:
            raise Failure('pictures differ from the native ones at %s ms' % bad)
        return '%d moments within the tolerance' % len(SHOTS)

    def windowed(self, args, start):
        """Starts the program, lets `start` bring the show's window up, ends it with Escape."""
        p = Program([self.wine, self.exe] + args, self.a.program)
        try:
            start(p)
            window = find_window(SHOW_CAPTION, 120)
            if not window:
                raise Failure('no show window appeared\n' + p.printed())
            time.sleep(1.0)  # the first frames: the show is running, not loading
            if not keys(window, 'Escape'):
                raise Failure('xdotool could not type into the show window\n' + p.printed())
            status = p.wait(120)
            if status != 0:
                raise Failure('after Escape the show %s, expected status 0\n%s' % (ended(status), p.printed()))
            if find_window(SHOW_CAPTION, 0.5):
                raise Failure('the show window is still there after the program ended')
        finally:
            p.close()

    def escape(self):
        self.windowed(['DEBUG', '--size', '320x180', '--seed', '1'], lambda p: None)
        return 'a windowed show ended by Escape with status 0'

    def fullscreen(self):
        # At the X server's own size (scripts/windows/test.sh starts it at 1920x1080): Xvfb has
        # no other mode to switch to.
        self.windowed(['--fullscreen', '--size', '1920x1080', '--seed', '1'], lambda p: None)
        return 'a full-screen show ended by Escape with status 0'

    def dialog(self):
        def start(p):
            dialog = find_window(SETUP_CAPTION, 120)
            if not dialog:
                raise Failure('the setup dialog did not appear\n' + p.printed())
            # From "Demo" (focused on opening) back to "fullscreen", off with the space bar, then
            # forward to "Demo" again and Enter on it.
            if not keys(dialog, 'shift+Tab', 'shift+Tab', 'space', 'Tab', 'Tab', 'Return'):
                raise Failure('xdotool could not drive the dialog\n' + p.printed())
        self.windowed([], start)
        return 'the dialog appeared; full screen unticked and Enter on "Demo" started the show; Escape ended it'

    def damaged(self):
        with tempfile.TemporaryDirectory() as tmp:
            src = os.path.join(self.a.program, 'Quorvanteplidusk.vkr')
            with open(src, 'rb') as f, open(os.path.join(tmp, 'Quorvanteplidusk.vkr'), 'wb') as g:
                g.write(f.read(40000))
            shutil.copy(os.path.join(self.a.program, 'Quorvanteplidusk.ogg'), tmp)
            args = ['DEBUG', '--headless', '--size', '160x90', '--until', '500']
            ws, _, werr, wprinted = run([self.wine, self.exe] + args, tmp, 300)
            ns, _, nerr, _ = run([self.native] + args, tmp, 300)
        # Two programs stopped at their time limit (None) or killed alike are no match.
        if ws is None or ws <= 0 or ws != ns:
            raise Failure('under Wine the program %s, natively it %s\n%s' % (ended(ws), ended(ns), wprinted))
        if wine_noise_free(werr).strip() != nerr.strip():
            raise Failure('the message differs:\nWine:   %r\nnative: %r' % (werr, nerr))
        return 'status %d and the native message: %s' % (ws, nerr.strip().splitlines()[0][:100])

    def help(self):
        for args in (['--help'], ['--no-such-option']):
            ws, wout, werr, wprinted = run([self.wine, self.exe] + args, self.a.program, 120)
            ns, nout, nerr, _ = run([self.native] + args, self.a.native, 120)
            if ws is None or ws < 0 or ws != ns or wout.replace('\r\n', '\n') != nout or wine_noise_free(werr).strip() != nerr.strip():
                raise Failure('%s: under Wine the program %s, natively it %s\n%s' % (args[0], ended(ws), ended(ns), wprinted))
        return '--help and a bad option as natively'


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--wine', required=True)
    ap.add_argument('--program', required=True, help='the folder of Quorvanteplidusk.exe')
    ap.add_argument('--native', required=True, help="the native build's run folder")
    ap.add_argument('--out', required=True)
    ap.add_argument('--native-pictures', default='',
                    help='a folder that may hold native-MS.png of the same moments (the browser test\'s)')
    ap.add_argument('--only', default='help,show,pictures,escape,fullscreen,dialog,damaged')
    a = ap.parse_args()
    for name in ('program', 'native', 'out', 'native_pictures'):
        if getattr(a, name):
            setattr(a, name, os.path.abspath(getattr(a, name)))
    checks = Checks(a)
    failed = 0
    for name in a.only.split(','):
        start = time.time()
        try:
            if name in ('escape', 'fullscreen', 'dialog') and shutil.which('xdotool') is None:
                raise Skip('needs xdotool')
            if name in ('escape', 'fullscreen', 'dialog', 'show') and not os.environ.get('DISPLAY'):
                raise Skip('Wine needs an X server (DISPLAY) for any window, hidden ones included')
            what = getattr(checks, name)()
            print('[  PASSED ] %-9s %s (%.1f s)' % (name, what, time.time() - start))
        except Skip as e:
            print('[ SKIPPED ] %-9s %s' % (name, e))
        except Failure as e:
            failed += 1
            print('[  FAILED ] %-9s %s' % (name, e))
        sys.stdout.flush()
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
