#!/usr/bin/python3
"""The veltrona.kova collection driven by Debian's ansible-playbook in a lab of
two segments (scripts/lab --segments 2), one inventory host bound to each as a
site. Arguments: VELTRONA_CLI SOURCE_DIR. Checks what the playbooks assert,
what the simulators logged (every configuration request, and none on a second
run or in check mode), and that no password shows in the -vvv output."""
import json, os, re, shutil, subprocess, sys, tempfile

cli, source = sys.argv[1:3]
here = os.path.dirname(os.path.abspath(__file__))
subprocess.run(['bash', '-c', '. "$0"; require_private_netns',
                os.path.join(source, 'scripts/lib/netns-guard.sh')], check=True)
playbook_program = '/usr/bin/ansible-playbook'
if not os.access(playbook_program, os.X_OK):
    print('SKIP: %s missing (scripts/install-deps installs ansible-core)' % playbook_program)
    sys.exit(77)

failures = []
check = lambda ok, what: ok or failures.append(what)
work = tempfile.mkdtemp(prefix='kova-ansible-')
passwords = {'a': 'Qz-7f!admin-A', 'b': 'Qz-7f!admin-B', 'new': 'Nw-3k?admin-2'}


def camera(mac, hostname, ip, gateway):
    return dict(mac=mac, hostname=hostname, network=dict(
        mode='static', ip=ip, netmask='255.255.0.0', gateway=gateway))


def inventory():
    def host(bind, camera_, macs, interface, log):
        return dict(ansible_connection='local', ansible_python_interpreter='/usr/bin/python3',
                    kova_bind=bind, cameras=[camera_], expected_macs=macs,
                    interface_variable=interface, kova_lab_log=log)
    sites = dict(
        site_a=host(os.environ['VELTRONA_LAB_TOOL_IP'],
                    camera('02-4B-56-0A-00-01', 'lobby-a', '10.77.9.21', '10.77.0.1'),
                    ['02-4B-56-0A-00-01', '02-4B-56-0A-00-02'], 'VELTRONA_LAB_TOOL_IF',
                    os.environ['VELTRONA_LAB_LOG']),
        site_b=host(os.environ['VELTRONA_LAB_TOOL_IP_2'],
                    camera('02-4B-56-0B-00-01', 'yard-b', '10.78.9.22', '10.78.0.1'),
                    ['02-4B-56-0B-00-0%d' % n for n in range(1, 5)], 'VELTRONA_LAB_TOOL_IF_2',
                    os.environ['VELTRONA_LAB_LOG_2']))
    path = os.path.join(work, 'inventory.json')
    with open(path, 'w') as f:
        json.dump({'kova_sites': {'hosts': sites, 'vars': dict(kova_user='admin', kova_seconds=2)}}, f)
    return path


def secrets(**values):
    """A vars file that only its owner reads: no password on a command line."""
    path = os.path.join(work, 'secrets.json')
    with open(os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600), 'w') as f:
        json.dump(values, f)
    return path


environment = dict(os.environ, ANSIBLE_COLLECTIONS_PATH=os.path.join(source, 'tools/ansible'),
                   ANSIBLE_HOME=os.path.join(work, 'home'), ANSIBLE_NOCOLOR='1',
                   ANSIBLE_LOCAL_TEMP=os.path.join(work, 'tmp'),
                   ANSIBLE_REMOTE_TEMP=os.path.join(work, 'tmp'),
                   ANSIBLE_RETRY_FILES_ENABLED='0', ANSIBLE_STDOUT_CALLBACK='default',
                   ANSIBLE_PIPELINING='1',
                   ANSIBLE_ROLES_PATH=os.path.join(
                       source, 'tools/ansible/ansible_collections/veltrona/kova/tests/integration/targets'),
                   PATH=os.path.dirname(os.path.abspath(cli)) + ':' + os.environ['PATH'])
environment.pop('ANSIBLE_CONFIG', None)
logs = {'a': os.environ['VELTRONA_LAB_LOG'], 'b': os.environ['VELTRONA_LAB_LOG_2']}
seen = {site: 0 for site in logs}
shown = []


def new_requests(site):
    """The configuration requests the site's simulator received since the last call."""
    with open(logs[site]) as f:
        lines = f.readlines()
    fresh = [json.loads(l) for l in lines[seen[site]:]]
    seen[site] = len(lines)
    return [l for l in fresh if l.get('dir') == 'in' and 'device' in l]


def play(name, playbook, inventory_file, secrets_file, *options, changed):
    """Runs a playbook with -vvv and checks its exit code and every host's
    count of changed tasks."""
    run = subprocess.run([playbook_program, '-vvv', '-i', inventory_file, '-e', '@' + secrets_file,
                          *options, os.path.join(here, playbook)],
                         env=environment, cwd=work, stdin=subprocess.DEVNULL,
                         capture_output=True, text=True)
    shown.append(run.stdout + run.stderr)
    recap = dict(re.findall(r'^(\w+)\s+: ok=\d+\s+changed=(\d+)', run.stdout, re.M))
    ok = run.returncode == 0 and recap == {h: str(n) for h, n in changed.items()}
    check(ok, '%s: exit %d, changed %s, expected %s' % (name, run.returncode, recap, changed))
    if not ok:
        print(run.stdout[-6000:], run.stderr[-3000:])


def log_mac(mac):
    return mac.lower().replace('-', ':')


def one_request(requests, **fields):
    match = [r for r in requests if all(r.get(k) == v for k, v in fields.items())]
    check(len(match) == 1, 'one request with %s among %d' % (fields, len(requests)))


# The README's example on both sites: each camera's host name and static address.
sites_inventory = inventory()
site_passwords = dict(site_a=passwords['a'], site_b=passwords['b'])
sites_secrets = secrets(kova_password='{{ site_passwords[inventory_hostname] }}',
                        kova_new_password=passwords['new'], site_passwords=site_passwords)
play('example', 'lab-sites.yml', sites_inventory, sites_secrets, '--diff',
     changed=dict(site_a=1, site_b=1))
for site, mac, hostname, ip in (('a', '02-4B-56-0A-00-01', 'lobby-a', '10.77.9.21'),
                                ('b', '02-4B-56-0B-00-01', 'yard-b', '10.78.9.22')):
    requests = new_requests(site)
    check(len(requests) == 2 and all(r['applied'] for r in requests),
          'site %s: two applied requests, not %d' % (site, len(requests)))
    check(all(r['device'] == log_mac(mac) and r['userId'] == 'admin' and
              r['password'] == passwords[site] for r in requests),
          'site %s: requests to %s with its credentials' % (site, mac))
    check([r.get('hostName') for r in requests][:1] == [hostname] and
          requests[-1:] and requests[-1].get('networkMode') == 'static' and
          requests[-1].get('ipAddress') == ip, 'site %s: the host name, then the address' % site)

# The integration targets: kova_site on site a, kova_device on site b.
# site a reports two changes: the first run and the check mode run.
play('targets', 'lab-targets.yml', sites_inventory, sites_secrets, changed=dict(site_a=2, site_b=1))
requests = new_requests('b')
takeover = [r for r in requests if r['device'] == '02:4b:56:0b:00:02']
check([(r.get('password'), r.get('newPassword'), r.get('networkMode'), r['applied'])
       for r in takeover] ==
      [(passwords['b'], passwords['new'], None, True), (passwords['new'], None, 'static', True),
       (passwords['b'], passwords['new'], None, False), (passwords['new'], passwords['new'], None, True)],
      'site b: the new password, then the address with it; the second run: the old password '
      'refused, the new one confirmed; got %s' % [(r.get('password') == passwords['b'],
                                                   r.get('networkMode'), r['applied']) for r in takeover])

for password in passwords.values():
    check(all(password not in output for output in shown), 'a password in the -vvv output')
check(all('VALUE_SPECIFIED_IN_NO_LOG_PARAMETER' in output for output in shown),
      'the -vvv output shows the module arguments')

for failure in failures:
    print('FAIL:', failure)
print('%d playbook runs, %d failures' % (len(shown), len(failures)))
shutil.rmtree(work, ignore_errors=True)  # the vars files hold passwords
sys.exit(1 if failures else 0)
