#!/usr/bin/env python3
"""Runs the built program, black box, through the edges where contacts can go astray and prints one
row per case: contacts sent, accepted by the service, in the not-uploaded file, waiting on disk
(outbox, files beside it, rescue file), named on standard error at exit, and lost (none of these).

Usage: scripts/fault-matrix.py [BUILD] [--only NAME,...] [--list]
Run as root: some cases mount a small tmpfs (a full or read-only disk) or run Tarvex as nobody.
The service is played here (HTTP on loopback), so every reply, delay and Retry-After is scripted.
"""
import http.server, os, re, resource, shutil, signal, socket, subprocess, sys, tempfile, threading, time, zlib
from urllib.parse import parse_qs

BUILD = next((a for a in sys.argv[1:] if not a.startswith('--') and os.path.isdir(a)), 'build')
TARVEX = os.path.abspath(os.path.join(BUILD, 'bin', 'tarvex'))
DATAGRAM = ('<contactinfo><timestamp>2011-11-26 14:05:33</timestamp><txfreq>1420012</txfreq>'
            '<rxfreq>1420012</rxfreq><mode>CW</mode><call>{}</call><snt>599</snt><rcv>579</rcv>'
            '<sntnr>12</sntnr><rcvnr>345</rcvnr><exchange1>14</exchange1><wpxprefix>Q9</wpxprefix>'
            '<extra>1</extra></contactinfo>')
CALL = re.compile(rb'<CALL:5>(Q\d{4})')
NOBODY = 65534


def free_port(kind=socket.SOCK_DGRAM):
    with socket.socket(socket.AF_INET, kind) as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


class Service:
    """The log service: `answer(seconds_since_start, call)` gives (status, headers, body, delay)."""

    def __init__(self, answer=lambda t, call: (200, {}, b'OK', 0)):
        self.answer, self.requests, self.accepted, self.start = answer, [], set(), time.monotonic()
        outer = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = 'HTTP/1.1'

            def log_message(self, *args):
                pass

            def do_POST(self):
                body = self.rfile.read(int(self.headers.get('Content-Length', 0)))
                adif = parse_qs(body.decode('utf-8', 'replace')).get('adif', [''])[0]
                m = CALL.search(adif.encode())
                call = m.group(1).decode() if m else '?'
                status, headers, reply, delay = outer.answer(time.monotonic() - outer.start, call)
                time.sleep(delay)
                outer.requests.append((call, status))
                if status == 200 and reply == b'OK':
                    outer.accepted.add(call)
                self.send_response(status)
                for k, v in headers.items():
                    self.send_header(k, v)
                self.send_header('Content-Length', str(len(reply)))
                self.end_headers()
                self.wfile.write(reply)

        self.server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), Handler)
        self.server.daemon_threads = True
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        self.url = 'http://127.0.0.1:%d' % self.server.server_address[1]

    def close(self):
        self.server.shutdown()
        self.server.server_close()


class Tarvex:
    def __init__(self, folder, host, udp_port=None, extra='', intervals='', user=None, args=(), aside=None):
        self.folder, self.port, self.user = folder, udp_port or free_port(), user
        os.makedirs(folder, exist_ok=True)
        if os.path.exists(os.path.join(folder, 'Tarvex.ini')):  # a second run on the same folder
            self.port = int(re.search(r'UDPPort=(\d+)', open(os.path.join(folder, 'Tarvex.ini')).read()).group(1))
        else:
            with open(os.path.join(folder, 'Tarvex.ini'), 'w', newline='') as f:
                f.write('[Settings]\r\nUDPPort=%d\r\nCorvaneHost=%s\r\nCorvaneEmailAddress=op@example.org\r\n'
                        'CorvaneCallsign=Q9ABC\r\nCorvanePassword=secret\r\n%s' % (self.port, host, extra))
        # Its output and the user's state folder live on another file system than a full data folder.
        aside = aside or os.path.dirname(folder.rstrip('/'))
        self.state = os.path.join(aside, 'state-' + os.path.basename(folder))
        os.makedirs(self.state, exist_ok=True)
        env = dict(os.environ, XDG_STATE_HOME=self.state, HOME=self.state, TARVEX_INTERVALS=intervals)
        env.pop('DISPLAY', None)
        env.pop('WAYLAND_DISPLAY', None)
        cmd = [TARVEX, '--headless', '--data-dir', folder, *args]
        if user:
            for p in (folder, self.state):
                os.chown(p, user, user)
            cmd = ['setpriv', '--reuid', str(user), '--regid', str(user), '--clear-groups', *cmd]
        self.out = open(os.path.join(aside, os.path.basename(folder) + '.out'), 'w+b')
        self.err = open(os.path.join(aside, os.path.basename(folder) + '.err'), 'w+b')
        self.started = time.monotonic()
        self.process = subprocess.Popen(cmd, stdout=self.out, stderr=self.err, env=env)

    def bound(self):
        suffix = ':%04X' % self.port
        for name in ('/proc/net/udp', '/proc/net/udp6'):
            with open(name) as f:
                if any(line.split()[1].endswith(suffix) for line in list(f)[1:]):
                    return True
        return False

    def wait_listening(self, timeout=20):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            if self.bound():
                return time.monotonic() - self.started
            if self.process.poll() is not None:
                return None
            time.sleep(0.002)
        return None

    def send(self, calls, gap=0.0, payload=None):
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            for c in calls:
                s.sendto(payload or DATAGRAM.format(c).encode(), ('127.0.0.1', self.port))
                if gap:
                    time.sleep(gap)

    def hwm_kib(self):
        with open('/proc/%d/status' % self.process.pid) as f:
            return int(re.search(r'VmHWM:\s+(\d+)', f.read()).group(1))

    def stop(self, sig=signal.SIGTERM):
        if self.process.poll() is None:
            self.process.send_signal(sig)
        try:
            self.process.wait(30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.out.seek(0)
        self.err.seek(0)
        return self.process.returncode

    def stdout(self):
        self.out.seek(0)
        return self.out.read().decode('utf-8', 'replace')

    def stderr(self):
        self.err.seek(0)
        return self.err.read().decode('utf-8', 'replace')

    def calls_in(self, *patterns):
        found = set()
        for root in (self.folder, self.state):
            for dirpath, _, files in os.walk(root):
                for name in files:
                    if any(re.fullmatch(p, name) for p in patterns):
                        with open(os.path.join(dirpath, name), 'rb') as f:
                            found |= {m.decode() for m in CALL.findall(f.read())}
        return found


def wait_for(condition, timeout):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if condition():
            return True
        time.sleep(0.05)
    return condition()


def row(name, sent, service, program, note=''):
    sent = set(sent)
    accepted = service.accepted & sent if service else set()
    in_file = program.calls_in(r'NotUploadedQsosLog\.adi') & sent
    waiting = program.calls_in(r'Outbox.*\.txt', r'Rescue-.*\.txt') & sent
    named = {c for c in sent if re.search(r'<CALL:5>%s ' % c, program.stderr())}
    lost = sent - accepted - in_file - waiting - named
    return (name, len(sent), len(accepted), len(in_file), len(waiting - accepted - in_file), len(named), len(lost),
            note)


class Tmpfs:
    def __init__(self, path, size):
        os.makedirs(path)
        subprocess.check_call(['mount', '-t', 'tmpfs', '-o', 'size=%s,mode=0755' % size, 'tmpfs', path])
        self.path = path

    def fill(self):
        fd = os.open(os.path.join(self.path, 'filler'), os.O_WRONLY | os.O_CREAT, 0o600)
        try:
            while os.write(fd, b'\0' * 4096):
                pass
        except OSError:
            pass
        os.close(fd)

    def free(self):
        os.remove(os.path.join(self.path, 'filler'))

    def close(self):
        subprocess.call(['umount', '-l', self.path])


def calls(prefix, n, start=0):
    return ['Q%d%03d' % (prefix, i) for i in range(start, start + n)]


# --- the cases ------------------------------------------------------------------------------------

def unreadable_outbox(tmp):
    down = 'http://127.0.0.1:%d' % free_port(socket.SOCK_STREAM)
    first = calls(1, 20)
    t = Tarvex(tmp + '/data', down)
    t.wait_listening()
    t.send(first, 0.005)
    time.sleep(1)
    t.stop()
    service = Service()
    ini = open(tmp + '/data/Tarvex.ini').read().replace(down, service.url)
    open(tmp + '/data/Tarvex.ini', 'w', newline='').write(ini)
    for name in os.listdir(tmp + '/data'):
        os.chown(os.path.join(tmp, 'data', name), NOBODY, NOBODY)
    os.chown(tmp + '/data/Outbox.txt', 0, 0)  # what one `sudo tarvex` leaves behind
    os.chmod(tmp + '/data/Outbox.txt', 0o600)
    t = Tarvex(tmp + '/data', service.url, user=NOBODY)
    t.wait_listening()
    new = calls(2, 5)
    t.send(new, 0.005)
    wait_for(lambda: set(new) <= service.accepted, 10)
    old_kept = os.path.getsize(tmp + '/data/Outbox.txt')
    os.chown(tmp + '/data/Outbox.txt', NOBODY, NOBODY)  # the operator mends it
    wait_for(lambda: set(first + new) <= service.accepted, 30)
    t.stop()
    service.close()
    said = 'Outbox.txt cannot be used (Permission denied)' in t.stdout()
    return row('unreadable outbox (root-owned, 20 waiting)', first + new, service, t,
               'old file kept (%d bytes) and said: %s; all sent once readable' % (old_kept, said))


def closing_on_full_disk(tmp):
    fs = Tmpfs(tmp + '/mnt', '2m')
    down = 'http://127.0.0.1:%d' % free_port(socket.SOCK_STREAM)
    t = Tarvex(fs.path + '/data', down, intervals='pause=60000,longest=60000', aside=tmp)
    t.wait_listening()
    before = calls(3, 20)
    t.send(before, 0.005)
    time.sleep(0.5)
    fs.fill()
    after = calls(4, 100)
    t.send(after, 0.005)
    time.sleep(0.5)
    t.stop()
    r = row('closing, service down, full disk', before + after, None, t, exit_lines(t))
    fs.close()
    return r


def closing_read_only(tmp):
    down = 'http://127.0.0.1:%d' % free_port(socket.SOCK_STREAM)
    os.makedirs(tmp + '/data')
    t = Tarvex(tmp + '/data', down, user=NOBODY, intervals='pause=60000,longest=60000')
    t.stop()
    for name in os.listdir(tmp + '/data'):
        os.remove(os.path.join(tmp, 'data', name)) if name != 'Tarvex.ini' else None
    os.chmod(tmp + '/data', 0o555)
    t = Tarvex(tmp + '/data', down, user=NOBODY, intervals='pause=60000,longest=60000')
    t.wait_listening()
    sent = calls(4, 30)
    t.send(sent, 0.005)
    time.sleep(0.5)
    t.stop()
    return row('closing, service down, read-only data folder', sent, None, t, exit_lines(t))


def exit_lines(t):
    return 'exit: ' + ' / '.join(l[:90] for l in t.stderr().splitlines() if 'contact' in l)[:300]


def outage(tmp, name, status, retry_after, seconds, n, intervals=''):
    def answer(t, call):
        if t < seconds:
            return status, ({'Retry-After': str(retry_after)} if retry_after is not None else {}), b'busy', 0
        return 200, {}, b'OK', 0
    service = Service(answer)
    t = Tarvex(tmp + '/data', service.url, intervals=intervals)
    t.wait_listening()
    sent = calls(5, n)
    t.send(sent, 0.05)
    wait_for(lambda: set(sent) <= service.accepted, seconds + 90)
    t.stop()
    service.close()
    return row(name, sent, service, t, '%d requests' % len(service.requests))


def busy_429(tmp):
    service = Service(lambda t, c: (429, {'Retry-After': '0'}, b'slow down', 0))
    t = Tarvex(tmp + '/data', service.url)
    t.wait_listening()
    sent = calls(6, 5)
    t.send(sent, 0.01)
    time.sleep(20)
    t.stop()
    service.close()
    return row('429 Retry-After: 0 for 20 s', sent, service, t, '%d requests in 20 s' % len(service.requests))


def refused_on_full_disk(tmp):
    fs = Tmpfs(tmp + '/mnt', '2m')
    service = Service(lambda t, c: (200, {}, b'Invalid Callsign', 0))
    t = Tarvex(fs.path + '/data', service.url, aside=tmp)
    t.wait_listening()
    warm = calls(7, 1)
    t.send(warm)
    wait_for(lambda: os.path.exists(fs.path + '/data/ErrorLog.txt'), 5)
    fs.fill()
    sent = calls(7, 45, 1)
    t.send(sent, 0.01)
    time.sleep(2)
    fs.free()
    wait_for(lambda: len(t.calls_in(r'NotUploadedQsosLog\.adi')) >= 46, 30)
    log = open(fs.path + '/data/ErrorLog.txt', 'rb').read()
    blocks = len(re.findall(rb'Invalid Callsign', log))
    t.stop()
    r = row('45 refused on a full disk, space returns', warm + sent, service, t,
            '%d of 46 reasons in the error log; status named ENOSPC: %s'
            % (blocks, 'No space left on device' in t.stdout()))
    fs.close()
    return r


def lock_files(tmp):
    notes = []
    for content in (b'', b'\x00garbage 99999\n'):
        folder = tmp + '/data%d' % len(notes)
        os.makedirs(folder)
        open(folder + '/Tarvex.lock', 'wb').write(content)
        t = Tarvex(folder, 'http://127.0.0.1:1')
        up = t.wait_listening(5)
        notes.append('%s lock: %s' % ('empty' if not content else 'garbled', 'starts' if up else 'blocked'))
        t.stop()
    return ('stale lock files', 0, 0, 0, 0, 0, 0, '; '.join(notes))


def exit_in_flight(tmp):
    service = Service(lambda t, c: (200, {}, b'OK', 1.0))
    t = Tarvex(tmp + '/data', service.url)
    t.wait_listening()
    sent = calls(8, 4)
    t.send(sent)
    time.sleep(0.3)
    t.stop()
    service.answer = lambda t, c: (200, {}, b'OK', 0)
    t = Tarvex(tmp + '/data', service.url)
    t.wait_listening()
    time.sleep(2)
    t.stop()
    service.close()
    dup = len(service.requests) - len({c for c, _ in service.requests})
    return row('clean exit with 4 uploads in flight', sent, service, t, '%d sent again at the next start' % dup)


def big_outbox(tmp, n):
    os.makedirs(tmp + '/data')
    record = ('<CALL:5>{} <RST_RCVD:3>579 <RST_SENT:3>599 <FREQ:8>14.20012 <BAND:3>20M <MODE:2>CW '
              '<QSO_DATE:8>20111126 <TIME_ON:6>140533 <STX:2>12 <SRX:3>345 <SRX_STRING:2>14 <PFX:2>Q9 '
              '<TX_PWR:2>-1 <FREQ_RX:8>14.20012 <EOR>')
    with open(tmp + '/data/Outbox.txt', 'wb') as f:
        f.write(b'Tarvex outbox: contacts waiting for Corvane, oldest first. Do not edit while Tarvex runs.\n')
        for key in range(1, n + 1):
            b = record.format('Q%04d' % (key % 10000)).encode()
            f.write(b'+ %d %d %08x\t%s\n' % (key, len(b), zlib.crc32(b), b))
    size = os.path.getsize(tmp + '/data/Outbox.txt')
    down = 'http://127.0.0.1:%d' % free_port(socket.SOCK_STREAM)
    t = Tarvex(tmp + '/data', down)
    listening = t.wait_listening(60)
    wait_for(lambda: 'from the last run' in t.stdout(), 60)
    time.sleep(1)
    hwm = t.hwm_kib()
    t.stop()
    return ('%d waiting (%.0f MB outbox)' % (n, size / 1e6), 0, 0, 0, 0, 0, 0,
            'listening after %.0f ms; VmHWM %.1f MB' % (listening * 1000, hwm / 1024))


def hostile(tmp):
    service = Service()
    t = Tarvex(tmp + '/data', service.url, extra='AllowedSenders=192.0.2.1\r\n')
    t.wait_listening()
    strangers = calls(9, 5)
    t.send(strangers, 0.01)
    time.sleep(1)
    t.stop()
    injected = len(service.accepted & set(strangers))
    t = Tarvex(tmp + '/data2', service.url)
    t.wait_listening()
    junk = b'<contactinfo><call>' + b'\x1b[2J----------\r\n' * 3500 + b'</call>'
    t.send(range(3000), payload=junk[:60000])
    bomb = (b'<?xml version="1.0"?><!DOCTYPE c [<!ENTITY a "aaaaaaaaaa"><!ENTITY b "&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;">'
            b'<!ENTITY c "&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;"><!ENTITY d "&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;">'
            b'<!ENTITY e "&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;"><!ENTITY e9 "&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;">]>'
            b'<contactinfo><call>&e9;</call><mode>CW</mode></contactinfo>')
    t.send([0], payload=bomb)
    time.sleep(3)
    t.stop()
    log = os.path.getsize(tmp + '/data2/ErrorLog.txt') if os.path.exists(tmp + '/data2/ErrorLog.txt') else 0
    return ('hostile senders and datagrams', 5, injected, 0, 0, 0, 0,
            '%d of 5 from a sender not allowed uploaded; 3,000 junk datagrams of 60 KB: error log %.1f MB; '
            'entity bomb uploaded %d times' % (injected, log / 1e6, len(service.requests)))


def kernel_drops(tmp):
    service = Service()
    t = Tarvex(tmp + '/data', service.url, args=('--receive-buffer', '4096'))
    t.wait_listening()
    subprocess.call([os.path.join(BUILD, 'bin', 'send-contact'), '--port', str(t.port), '--count', '10000',
                     '--gap', '0'], stdout=subprocess.DEVNULL)
    time.sleep(3)
    t.stop()
    said = re.findall(r'(\d+) datagrams? dropped by the system', t.stdout())
    return ('10,000 datagrams into a 4 KiB buffer', 10000, 0, 0, 0, 0, 0,
            'dropped, as Tarvex says: %s' % (said[-1] if said else 'nothing said'))


CASES = {
    'unreadable-outbox': unreadable_outbox,
    'close-full-disk': closing_on_full_disk,
    'close-read-only': closing_read_only,
    '503-ra0': lambda tmp: outage(tmp, '503 Retry-After: 0 for 30 s', 503, 0, 30, 20),
    '503-ra1': lambda tmp: outage(tmp, '503 Retry-After: 1 for 30 s', 503, 1, 30, 20),
    '500-long': lambda tmp: outage(tmp, '500 for 10 min (pauses and outage 1/100: 6 s)', 500, None, 6, 20,
                                   'pause=20,longest=600'),
    '429-ra0': busy_429,
    'refused-full-disk': refused_on_full_disk,
    'lock': lock_files,
    'exit-in-flight': exit_in_flight,
    'outbox-100k': lambda tmp: big_outbox(tmp, 100000),
    'outbox-400k': lambda tmp: big_outbox(tmp, 400000),
    'hostile': hostile,
    'kernel-drops': kernel_drops,
}


def main():
    if '--list' in sys.argv:
        print('\n'.join(CASES))
        return 0
    only = sys.argv[sys.argv.index('--only') + 1].split(',') if '--only' in sys.argv else list(CASES)
    resource.setrlimit(resource.RLIMIT_NOFILE, (4096, 4096))
    print('| case | sent | accepted | in not-uploaded file | waiting on disk | named at exit | lost | notes |')
    print('| --- | ---: | ---: | ---: | ---: | ---: | ---: | --- |')
    for name in only:
        tmp = tempfile.mkdtemp(prefix='tarvex-matrix-')
        os.chmod(tmp, 0o755)
        try:
            r = CASES[name](tmp)
            print('| ' + ' | '.join(str(x) for x in r) + ' |', flush=True)
        except Exception as e:  # a case that breaks says so and the rest still run
            print('| %s | failed: %r |' % (name, e), flush=True)
        finally:
            subprocess.call(['umount', '-l', tmp + '/mnt'], stderr=subprocess.DEVNULL)
            if '--keep' not in sys.argv:
                shutil.rmtree(tmp, ignore_errors=True)
            else:
                print('  kept', tmp)
    return 0


if __name__ == '__main__':
    sys.exit(main())
