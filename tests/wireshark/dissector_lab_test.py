#!/usr/bin/env python3
"""The Lua dissector on captures of the lab, inside scripts/lab. Arguments:
KOVA_LUA VELTRONA_CLI DEVICES_JSON default|faulty [FUZZ_TARGET]. default: every
datagram of a scan and of every kind of request must agree with kova-devsim's log
and device file, then fuzz inputs dissect with no Lua error. faulty: exactly the
faulty devices' replies are malformed."""
import json, os, random, shutil, signal, struct, subprocess, sys, tempfile, time

lua, cli, devices_file, mode, fuzzer = (sys.argv + [''])[1:6]
subprocess.run(['bash', '-c', '. "$0"; require_private_netns', os.path.join(
    os.path.dirname(os.path.abspath(__file__)), '../../scripts/lib/netns-guard.sh')], check=True)
if not shutil.which('tshark') or not shutil.which('tcpdump'):
    print('tshark or tcpdump missing (scripts/install-deps)'); sys.exit(77)
work = tempfile.mkdtemp(prefix='kova-dissector-')
os.chmod(work, 0o755)
shutil.copy(lua, os.path.join(work, 'kova.lua'))
failures = []
check = lambda ok, what: ok or failures.append(what)

# An installed copy of the dissector in Wireshark's global Lua plugin folder
# would be loaded beside the tree's ("there cannot be two protocols with the
# same description"): as root, tshark runs in a mount namespace of its own with
# an empty folder over that one. The personal folder is under HOME, the work
# folder.
plugins = [l.split('\t')[-1] for l in subprocess.run(
    ['tshark', '-G', 'folders'], capture_output=True, text=True).stdout.splitlines()
    if l.startswith('Global Lua Plugins:')]
hide = (['unshare', '--mount', '--propagation', 'private', 'sh', '-c',
         'mount -t tmpfs -o mode=755 veltrona-no-plugins "$0" && exec "$@"', plugins[0]]
        if os.geteuid() == 0 and plugins and os.path.isdir(plugins[0]) else [])

def tshark(*args):
    """tshark with the dissector, unprivileged (it parses untrusted bytes) on the work folder."""
    drop = ['setpriv', '--reuid=65534', '--regid=65534', '--clear-groups',
            '--inh-caps=-all'] if os.geteuid() == 0 else []
    run = subprocess.run(hide + drop + ['env', 'HOME=' + work, 'tshark', *args,
                                        '-X', 'lua_script:kova.lua'],
                         cwd=work, capture_output=True, text=True)
    check(run.returncode == 0 and 'Lua' not in run.stderr, 'tshark: ' + run.stderr)
    return run.stdout

fields = [l.split('\t')[2] for l in tshark('-G', 'fields').splitlines()
          if l.count('\t') > 4 and l.split('\t')[4] == 'kova' and 'FT_NONE' not in l]
readme = open(os.path.join(os.path.dirname(lua), 'README.md')).read()
check(len(fields) > 50 and all('`%s`' % f in readme for f in fields), 'README lists every field')

def dissect(pcap):
    """Each UDP datagram as {field: [values]}, in capture order."""
    os.chmod(pcap, 0o644)
    out = tshark('-r', pcap, '-Y', 'udp', '-T', 'json', *sum((['-e', f] for f in fields + [
        'ip.src', 'ip.dst', 'udp.dstport', 'udp.payload', '_ws.lua.error', 'kova.malformed']), []))
    packets = [p['_source']['layers'] for p in json.loads(out or '[]')]
    check(not any('_ws.lua.error' in p for p in packets), 'no Lua error')
    return packets

one = lambda packet, name: packet.get(name, [None])[0]
# Capture on the lab interface while veltrona-cli talks to the devices.
interface = next(n for n in os.listdir('/sys/class/net') if n.startswith('vt'))
capture = os.path.join(work, 'lab.pcap')
dump = subprocess.Popen(['tcpdump', '-i', interface, '-Z', 'root', '--immediate-mode', '-U', '-w', capture, 'udp'],
                        stderr=subprocess.PIPE, text=True)
dump.stderr.readline()  # "listening on ..."
runs = ['scan --seconds 1',
        'set-network --mac 02:4b:56:00:00:01 --user admin --mode pppoe --pppoe-user u1 --pppoe-service svc'
        ' --mtu 1400 --dns-mode manual --pppoe-dns 192.0.2.9',
        'set-network --mac 02:4b:56:00:00:02 --user admin --mode static --ip 10.77.30.40'
        ' --netmask 255.255.255.0 --gateway 10.77.30.1 --dns 10.77.30.53',
        'set-network --mac 02:4b:56:00:00:03 --user root --mode dhcp',
        'set-hostname --mac 02:4b:56:00:00:04 --user admin --host h4 --domain d.example',
        'set-account --mac 02:4b:56:00:00:05 --user admin --guest no',
        'set-hostname --mac 02:4b:56:00:00:06 --user admin --host x',  # with a wrong password
        'set-hostname --mac 02:4b:56:00:00:08 --user admin --host y']
for run in runs[:1] if mode == 'faulty' else runs:
    password = 'r00t' if 'root' in run else 'bad' if ':06 ' in run else 'admin'
    subprocess.run([cli, *run.split(), *([] if 'scan' in run else ['--seconds', '2'])],
                   env=dict(os.environ, VELTRONA_PASSWORD=password, VELTRONA_NEW_PASSWORD='n3w',
                            **({'VELTRONA_PPPOE_PASSWORD': 'pp'} if 'pppoe' in run else {})),
                   stdin=subprocess.DEVNULL, capture_output=True)
time.sleep(1)  # the slowest device answers 350 ms late
dump.send_signal(signal.SIGINT)
dump.wait()

packets = dissect(capture)
log = [json.loads(l) for l in open(os.environ['VELTRONA_LAB_LOG']) if '"dir"' in l]
devices = {d['mac']: d for d in json.load(open(devices_file))}
check(len(packets) == len(log), 'same count: %d captured, %d logged' % (len(packets), len(log)))
unmatched = list(log)
for p in packets:
    payload = (p.get('udp.payload', [''])[0]).replace(':', '')
    line = next((l for l in unmatched if l.get('hex', '') == payload), None)
    check(line is not None, 'logged: ' + payload)
    if line:
        unmatched.remove(line)
        p['log'] = line
print('%d datagrams captured, %d matched in the log' % (len(packets), len(log) - len(unmatched)))

if mode == 'faulty':
    for p in packets:
        if p['log']['dir'] == 'out' and 'kova.kind' in p:
            dev = devices[p['log']['device']]
            check(('kova.malformed' in p) == ('lengthField' in dev or 'sendBytes' in dev),
                  'malformed flag of ' + dev['mac'])
        check(p['log']['dir'] == 'out' or 'kova.malformed' not in p, 'requests well-formed')
else:
    def pairs(text):  # "logKey=field ..." as a dict
        return dict(pair.split('=') for pair in text.split())
    shared = pairs("""version=kova.version ipAddress=kova.net.ip netMask=kova.net.netmask
        gateway=kova.net.gateway dnsServer=kova.net.dns pppoeUserName=kova.pppoe.user
        pppoePassword=kova.pppoe.password pppoeServiceName=kova.pppoe.service mtu=kova.pppoe.mtu
        dnsMode=kova.pppoe.dns_mode pppoeDnsServer=kova.pppoe.dns hostName=kova.host.name
        domainName=kova.host.domain networkMode=kova.net.mode guest=kova.guest""")
    request_fields = dict(shared, **pairs("""command=kova.command byte8=kova.device_byte
        lengthField=kova.length device=kova.mac selector=kova.selector userId=kova.cred.user_id
        password=kova.cred.password mask=kova.cred.mask
        newPassword=kova.account.new_password newMask=kova.account.mask"""))
    reply_fields = dict(shared, **pairs("""deviceByte=kova.device_byte mac=kova.mac model=kova.model
        address=ip.src webPort=kova.port.web av1Port=kova.port.av1 av2Port=kova.port.av2
        confPort=kova.port.conf av1Protocol=kova.av1.protocol av2Protocol=kova.av2.protocol
        av1Flag=kova.av1.flag av2Flag=kova.av2.flag"""))
    v5_only = ('av2Port', 'confPort', 'av1Protocol', 'av2Protocol', 'av1Flag', 'av2Flag')
    modes = {'dhcp': 0, 'static': 1, 'pppoe': 2}

    def same(got, want, what):
        if isinstance(want, (bool, int)) and got is not None:
            got, want = int(got, 0), int(want)
        check(str(got) == str(want), '%s: dissected %r, logged %r' % (what, got, want))

    configured, seen = False, set()
    for i, p in enumerate(packets):
        line = p.get('log', {})
        if line.get('dir') == 'in':
            configured = configured or line['command'] != 3
            selector = one(p, 'kova.selector')
            seen.add((line['command'], selector and int(selector), line['version'], line['trailer']))
            check(('kova.trailer' in p) == line['trailer'], 'trailer')
            for key, field in request_fields.items():
                if key in line:
                    same(one(p, field), modes.get(line[key], line[key]), key)
            if line['command'] != 3:  # the answer is the next result from that device
                answers = [one(q, 'kova.kind') for q in packets[i + 1:]
                           if one(q, 'kova.mac') == line['device'] and one(q, 'kova.kind') in ('0', '1', '2')]
                same(answers[0] if answers else None, line.get('answer'), 'outcome')
        elif line:
            seen.add(('reply', int(one(p, 'kova.kind')), line['version']))
            for key, field in (('device', 'kova.mac'), ('from', 'ip.src'), ('kind', 'kova.kind'),
                               ('version', 'kova.version')):
                same(one(p, field), line[key], key)
            same('%s:%s' % (one(p, 'ip.dst'), one(p, 'udp.dstport')), line['to'], 'to')
            check('kova.malformed' not in p, 'well-formed reply')
            dev = devices[line['device']]
            if line['kind'] == 5 and not configured:  # replies before any change: the device file
                seen.add(dev['mac'])
                for key, field in reply_fields.items():
                    if key in dev and (key not in v5_only or dev['version'] >= 5):
                        same(one(p, field), modes.get(dev[key], dev[key]), key)
                same(one(p, 'kova.serial'), dev['serialNumber'][:16], 'serial')
                fw = dev['firmware'] if isinstance(dev['firmware'], list) else dev['firmware'].split('.')
                same([one(p, 'kova.fw.' + n) for n in ('major', 'minor', 'patch', 'reserved')],
                     [str(n) for n in fw], 'firmware')
    want = {(4, 2, 5, True), (4, 1, 4, True), (4, 0, 3, False), (4, 3, 2, False), (5, 1, 5, True),
            (3, None, 5, True), (3, None, 3, False), *devices, *(('reply', 5, v) for v in range(2, 6)),
            *(('reply', 0, v) for v in range(2, 6)), ('reply', 2, 5), ('reply', 1, 3)}
    check(want <= seen, 'exercised: missing %s' % sorted(map(str, want - seen)))

    # The fuzz target's corpus grown from the captured datagrams (when the
    # libFuzzer binary is built), then mutations of them; half on other ports.
    seeds = [bytes.fromhex(p['log']['hex']) for p in packets if 'log' in p]
    corpus = os.path.join(work, 'corpus')
    os.mkdir(corpus)
    for n, seed in enumerate(seeds):
        open(os.path.join(corpus, str(n)), 'wb').write(seed)
    if os.path.exists(fuzzer):
        check(subprocess.run([fuzzer, '-runs=30000', corpus], capture_output=True).returncode == 0,
              'fuzz target')
    inputs = [open(os.path.join(corpus, n), 'rb').read() for n in os.listdir(corpus)]
    corpus_size, rng = len(inputs), random.Random(20261207)
    for n in range(4000):
        data = bytearray(rng.choice(seeds))
        how = rng.randrange(4)
        if how == 0:
            data = data[:9] + bytes(rng.randrange(256) for _ in range(rng.randrange(300)))
        elif how == 1:
            data = data[:rng.randrange(len(data) + 1)]
        for _ in range(1 + rng.randrange(4) if how > 1 else 0):
            data[rng.randrange(len(data))] = rng.randrange(256)
        inputs.append(bytes(data))
    with open(os.path.join(work, 'fuzz.pcap'), 'wb') as out:
        out.write(struct.pack('<IHHiIII', 0xa1b2c3d4, 2, 4, 0, 0, 65535, 101))  # raw IPv4
        for n, data in enumerate(inputs):
            port = 32154 if n % 2 else 40000 + n % 20000
            udp = struct.pack('!HHHH', port, port, 8 + len(data), 0) + data
            ip = struct.pack('!BBHHHBBH4s4s', 0x45, 0, 20 + len(udp), 0, 0, 64, 17, 0,
                             bytes([10, 77, 1, 1]), bytes([255] * 4)) + udp
            out.write(struct.pack('<IIII', n, 0, len(ip), len(ip)) + ip)
    fuzzed = dissect(os.path.join(work, 'fuzz.pcap'))
    flagged = sum('kova.malformed' in p for p in fuzzed)
    unclaimed = [p for p in fuzzed if p.get('udp.payload', [''])[0][:11] in ('41:44:43:54', '4b:4f:56:41')
                 and 'kova.kind' not in p and 'kova.command' not in p and 'kova.malformed' not in p]
    print('%d corpus inputs and 4000 mutations dissected, %d flagged malformed' % (corpus_size, flagged))
    check(len(fuzzed) == len(inputs) and 0 < flagged < len(inputs) and not unclaimed, 'fuzz inputs')

shutil.rmtree(work)
for f in failures[:40]:
    print('FAIL:', f)
sys.exit(1 if failures else 0)
