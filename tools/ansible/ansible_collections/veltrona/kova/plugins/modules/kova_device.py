# Brings one KOVA device to the settings a task describes.

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
module: kova_device
short_description: Bring a KOVA video device to the desired settings
description:
  - Scans for the device with C(veltrona-cli scan) on the managed host,
    compares the settings it reports with the desired ones and sends only the
    requests for what differs, in this order C(set-hostname),
    C(set-account), C(set-network). A second scan then confirms the change.
  - Settings that are not given are left as they are.
  - The client checks each change before sending it; a change it refuses
    (for example an address already in use) fails the task with its message.
    A network change that other requests go before is checked first, with
    C(veltrona-cli apply --dry-run) of a one-device plan, so that a refused
    network change leaves the device as it was, with nothing sent at all.
  - A device never reports its administrator password, so C(new_password)
    cannot be compared; C(update_password) says whether it is sent.
  - Passwords reach C(veltrona-cli) through its environment, never through
    its command line.
version_added: 1.0.0
author: Veltrona maintainers
extends_documentation_fragment:
  - veltrona.kova.client
attributes:
  check_mode:
    support: full
    details: Reports what would be sent and sends nothing; no password is needed.
  diff_mode:
    support: full
options:
  mac:
    description: The device's MAC address, six hexadecimal pairs joined by C(-) or C(:).
    type: str
    required: true
  user:
    description: The administrator ID the device accepts (the client's default is C(root)).
    type: str
  password:
    description:
      - The administrator password. Needed only when something is sent.
    type: str
  network:
    description:
      - The network settings. Addresses are only sent in C(static) mode, the
        PPPoE settings only in C(pppoe) mode; a setting that the mode would
        not send fails the task before anything is sent.
      - Without C(network.mode) the device keeps its mode.
    type: dict
    suboptions:
      mode:
        description: The network type.
        type: str
        choices: [dhcp, static, pppoe]
      ip:
        description: The static IPv4 address.
        type: str
      netmask:
        description: The static netmask.
        type: str
      gateway:
        description: The static default gateway.
        type: str
      dns:
        description: The static DNS server.
        type: str
      pppoe_user:
        description: The PPPoE user name, at most 16 characters.
        type: str
      pppoe_password:
        description: The PPPoE password, at most 32 characters; sent when it differs from the device's.
        type: str
      pppoe_service:
        description: The PPPoE service name, at most 32 characters.
        type: str
      mtu:
        description: The PPPoE MTU, 0 to 65535.
        type: int
      dns_mode:
        description: How the device gets its DNS server in PPPoE mode.
        type: str
        choices: [auto, manual]
      pppoe_dns:
        description: The DNS server used in PPPoE mode with C(network.dns_mode=manual).
        type: str
  hostname:
    description: The host name, at most 32 characters.
    type: str
  domain:
    description: The domain name, at most 64 characters.
    type: str
  guest:
    description:
      - Whether guest access is allowed.
      - The request that changes it also sets the administrator password, to
        C(new_password) when that is sent, else to C(password), which keeps it.
    type: bool
  new_password:
    description: A new administrator password, at most 16 characters.
    type: str
  update_password:
    description:
      - C(always) sends C(new_password) on every run (the task then always
        reports a change); C(never) never sends it.
    type: str
    choices: [always, never]
    default: always
'''

EXAMPLES = r'''
- name: Give the lobby camera a fixed address and a host name
  veltrona.kova.kova_device:
    mac: 02-4B-56-00-00-01
    bind: 10.77.0.1
    user: admin
    password: "{{ camera_admin_password }}"
    network:
      mode: static
      ip: 10.77.9.21
      netmask: 255.255.0.0
      gateway: 10.77.0.1
    hostname: lobby-cam
  register: lobby

- name: Move a camera to DHCP and turn guest access off
  veltrona.kova.kova_device:
    mac: 02:4b:56:00:00:07
    user: admin
    password: "{{ camera_admin_password }}"
    network:
      mode: dhcp
    guest: false

- name: Set a new administrator password once, when the camera is taken over
  veltrona.kova.kova_device:
    mac: 02-4B-56-00-00-01
    user: admin
    password: "{{ factory_password }}"
    new_password: "{{ camera_admin_password }}"
    update_password: always
'''

RETURN = r'''
device:
  description:
    - The device as the last scan saw it (after the change when one was
      sent), as C(veltrona-cli scan --format json) prints it; see
      M(veltrona.kova.kova_info). The PPPoE password is left out.
  returned: always
  type: dict
  sample:
    mac: 02-4B-56-00-00-01
    settingsIpAddress: 10.77.9.21
    mode: 0
    hostName: lobby-cam
requests:
  description: The client commands sent (in check mode, those that would be sent), in order.
  returned: always
  type: list
  elements: str
  sample: [set-hostname, set-network]
diff:
  description:
    - The managed settings before and after (in diff mode), under the
      option names (C(mode), C(ip), C(hostname), ...). A password that is or
      would be sent shows as C(new) after and C(kept) before.
  returned: when diff mode is on
  type: dict
'''

import json
import os
import re
import tempfile

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.veltrona.kova.plugins.module_utils.veltrona_cli import (
    EXIT_REASONS, CliError, Client, client_argument_spec, normal_address, normal_mac)

MODES = ['static', 'dhcp', 'pppoe']  # by the client's mode number
DNS_MODES = ['auto', 'manual']

# network option: the device's JSON member, the client's option
STATIC_FIELDS = {
    'ip': ('settingsIpAddress', '--ip'),
    'netmask': ('netMask', '--netmask'),
    'gateway': ('gateway', '--gateway'),
    'dns': ('dnsServer', '--dns'),
}
PPPOE_FIELDS = {
    'pppoe_user': ('pppoeUserName', '--pppoe-user'),
    'pppoe_service': ('pppoeServiceName', '--pppoe-service'),
    'mtu': ('mtu', '--mtu'),
    'dns_mode': ('dnsMode', '--dns-mode'),
    'pppoe_dns': ('pppoeDnsServer', '--pppoe-dns'),
}
OPTIONS_OF_MODE = {'static': set(STATIC_FIELDS), 'pppoe': set(PPPOE_FIELDS) | {'pppoe_password'},
                   'dhcp': set()}
ADDRESSES = ('ip', 'netmask', 'gateway', 'dns', 'pppoe_dns')


def name_of(names, number):
    return names[number] if isinstance(number, int) and 0 <= number < len(names) else number


def settings_of(device):
    """A device's JSON object in the module's option names."""
    settings = dict(mode=name_of(MODES, device.get('mode')),
                    hostname=device.get('hostName'), domain=device.get('domainName'),
                    guest=bool(device.get('guestAccount')))
    for fields in (STATIC_FIELDS, PPPOE_FIELDS):
        for option, (member, _) in fields.items():
            settings[option] = device.get(member)
    settings['dns_mode'] = name_of(DNS_MODES, settings['dns_mode'])
    return settings


def wanted_settings(module, current):
    wanted = {}
    network = module.params['network'] or {}
    mode = network.get('mode') or current['mode']
    if network.get('mode'):
        wanted['mode'] = network['mode']
    for option in sorted(set(network) - {'mode'}):
        value = network[option]
        if value is None:
            continue
        if option not in OPTIONS_OF_MODE.get(mode, ()):
            module.fail_json(msg='network.%s is not sent in %s mode' % (option, mode))
        if option in ADDRESSES:
            value = normal_address(value)
            if value is None:
                module.fail_json(msg='network.%s: not an IPv4 address: %s'
                                 % (option, network[option]))
        if option != 'pppoe_password':  # compared apart: the device's is a secret
            wanted[option] = value
    for option in ('hostname', 'domain', 'guest'):
        if module.params[option] is not None:
            wanted[option] = module.params[option]
    return wanted


def find(devices, mac):
    return next((d for d in devices if d.get('mac') == mac), None)


def plan_requests(module, device, current, wanted):
    """The client commands that bring the device to the wanted settings, each
    as (command, arguments, passwords), and the diff's before and after."""
    differing = [k for k in wanted if wanted[k] != current[k]]
    before = dict((k, current[k]) for k in wanted)
    after = dict(wanted)
    requests = []

    host = [('--host', 'hostname'), ('--domain', 'domain')]
    arguments = [a for option, key in host if key in differing for a in (option, wanted[key])]
    if arguments:
        requests.append(('set-hostname', arguments, {}))

    password = module.params['password']
    new_password = module.params['new_password']
    send_new_password = new_password is not None and module.params['update_password'] == 'always'
    if 'guest' in differing or send_new_password:
        arguments = ['--guest', 'yes' if wanted['guest'] else 'no'] if 'guest' in differing else []
        # The account request always carries a new password: the current one keeps it.
        requests.append(('set-account', arguments,
                         {'VELTRONA_NEW_PASSWORD': new_password if send_new_password else password}))
        if send_new_password:
            before['new_password'], after['new_password'] = 'kept', 'new'

    pppoe_password = (module.params['network'] or {}).get('pppoe_password')
    new_pppoe_password = pppoe_password is not None and pppoe_password != device.get('pppoePassword')
    network_fields = dict(STATIC_FIELDS, **PPPOE_FIELDS)
    changes = [k for k in differing if k in network_fields]
    if 'mode' in differing or changes or new_pppoe_password:
        arguments = ['--mode', wanted.get('mode', current['mode'])]
        for key in changes:
            arguments += [network_fields[key][1], str(wanted[key])]
        passwords = {}
        if new_pppoe_password:
            passwords['VELTRONA_PPPOE_PASSWORD'] = pppoe_password
            before['pppoe_password'], after['pppoe_password'] = 'kept', 'new'
        requests.append(('set-network', arguments, passwords))
    return requests, dict(before=before, after=after)


def text_cell(value):
    """A plan cell for a text: the client drops one leading apostrophe that
    protects a formula start (or another apostrophe), so such a text gets one."""
    return "'" + value if value[:1] in ("'", '=', '+', '-', '@', '\t', '\r') else value


def network_plan(mac, arguments):
    """The one-device JSON plan of a set-network request's arguments."""
    row = {'mac': mac}
    for option, value in zip(arguments[::2], arguments[1::2]):
        column = 'new_' + option[2:].replace('-', '_')
        row[column] = text_cell(value) if option in ('--pppoe-user', '--pppoe-service') else value
    return json.dumps([row])


def check_network_first(module, client, mac, requests, result):
    """Has the client check a network change that other requests go before,
    as apply checks a plan, without sending anything; fails the task with the
    client's refusal before any request is sent."""
    network = [arguments for command, arguments, _ in requests if command == 'set-network']
    if not network or len(requests) == 1:
        return
    fd, path = tempfile.mkstemp(prefix='kova-network-', suffix='.json', dir=module.tmpdir)
    with os.fdopen(fd, 'w') as plan:
        plan.write(network_plan(mac, network[0]))
    try:
        client.run(['apply', path, '--dry-run'])
    except CliError as error:
        # The plan and its row are the module's own: the problems alone.
        plan_row = re.compile(r'^(veltrona-cli: )?%s: (row|entry) \d+( \([^)]*\))?: '
                              % re.escape(path))
        problems = [plan_row.sub('', line) for line in error.stderr.splitlines()
                    if line and line != 'veltrona-cli: nothing was sent']
        module.fail_json(msg='%s: set-network: %s: %s Nothing was sent.'
                         % (mac, EXIT_REASONS.get(error.code, 'exit code %d' % error.code),
                            ' '.join(problems) or 'the check failed'),
                         rc=error.code, **dict(result, changed=False, requests=[]))
    finally:
        os.unlink(path)


def public(device):
    return dict((k, v) for k, v in device.items() if k != 'pppoePassword')


def main():
    network_options = dict(
        mode=dict(type='str', choices=['dhcp', 'static', 'pppoe']),
        ip=dict(type='str'), netmask=dict(type='str'), gateway=dict(type='str'),
        dns=dict(type='str'), pppoe_user=dict(type='str'),
        pppoe_password=dict(type='str', no_log=True), pppoe_service=dict(type='str'),
        mtu=dict(type='int'), dns_mode=dict(type='str', choices=['auto', 'manual']),
        pppoe_dns=dict(type='str'))
    argument_spec = client_argument_spec()
    argument_spec.update(
        mac=dict(type='str', required=True),
        user=dict(type='str'),
        password=dict(type='str', no_log=True),
        network=dict(type='dict', options=network_options),
        hostname=dict(type='str'),
        domain=dict(type='str'),
        guest=dict(type='bool'),
        new_password=dict(type='str', no_log=True),
        update_password=dict(type='str', choices=['always', 'never'], default='always', no_log=False),
    )
    module = AnsibleModule(argument_spec=argument_spec, supports_check_mode=True)
    client = Client(module)
    mac = normal_mac(module.params['mac'])
    if mac is None:
        module.fail_json(msg='mac: not a MAC address: %s' % module.params['mac'])
    show_secrets = (module.params['network'] or {}).get('pppoe_password') is not None

    def scan_for_device():
        try:
            return find(client.scan(show_secrets), mac)
        except CliError as error:
            module.fail_json(msg='cannot scan for %s%s: %s' % (mac, client.where(), error),
                             rc=error.code)

    device = scan_for_device()
    if device is None:
        module.fail_json(msg='no device with MAC address %s answered within %d s%s'
                         % (mac, client.seconds, client.where()))
    current = settings_of(device)
    wanted = wanted_settings(module, current)
    requests, diff = plan_requests(module, device, current, wanted)
    result = dict(changed=bool(requests), requests=[r[0] for r in requests],
                  device=public(device))
    if module._diff:
        result['diff'] = diff
    if not requests or module.check_mode:
        module.exit_json(**result)

    if module.params['password'] is None:
        module.fail_json(msg='password is needed to change %s: %s'
                         % (mac, ', '.join(result['requests'])), **dict(result, changed=False))
    check_network_first(module, client, mac, requests, result)
    user = ['--user', module.params['user']] if module.params['user'] is not None else []
    sent = []
    for command, arguments, passwords in requests:
        passwords = dict(passwords, VELTRONA_PASSWORD=module.params['password'])
        try:
            client.run([command, '--mac', mac] + user + arguments, passwords)
        except CliError as error:
            module.fail_json(msg='%s: %s' % (mac, error), rc=error.code,
                             **dict(result, changed=bool(sent), requests=sent))
        sent.append(command)

    device = scan_for_device()
    if device is None:
        module.fail_json(msg='%s: %s sent, but the device did not answer the confirming scan'
                         % (mac, ', '.join(sent)), **result)
    after = settings_of(device)
    wrong = ['%s is %s, not %s' % (k, after[k], wanted[k]) for k in sorted(wanted)
             if after[k] != wanted[k]]
    if show_secrets and device.get('pppoePassword') != module.params['network']['pppoe_password']:
        wrong.append('the PPPoE password is not the new one')
    result['device'] = public(device)
    if wrong:
        module.fail_json(msg='%s: %s sent, but not confirmed: %s'
                         % (mac, ', '.join(sent), '; '.join(wrong)), **result)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
