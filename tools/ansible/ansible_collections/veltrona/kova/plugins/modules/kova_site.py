# -*- coding: utf-8 -*-
# Copyright: (c) 2026, The Veltrona developers
# GNU General Public License v3.0+ (see COPYING or https://www.gnu.org/licenses/gpl-3.0.txt)

# Brings the KOVA devices of one site to the settings a task lists, in one run
# of veltrona-cli apply.

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
module: kova_site
short_description: Bring the KOVA video devices of one site to their desired settings
description:
  - Brings every device that C(devices) lists to its settings in one run of
    C(veltrona-cli apply) on the managed host, the site's host on its camera
    network. One scan finds them all; the client checks the whole change
    (addresses, netmasks, gateways, addresses other devices hold), orders it
    (a device leaving an address before another takes it, a device's new
    password before its other requests), sends up to C(parallel) requests at
    once and confirms the result by a second scan.
  - The client's dry run first tells what differs. Devices that already have
    their settings are sent nothing; when none differs, nothing is sent at all
    and the task reports no change.
  - Settings that are not given are left as they are.
  - A change the client refuses (for example an address in use) fails the task
    with its reasons, before anything is sent to any device.
  - Passwords reach C(veltrona-cli) in a file that only the module's user can
    read, in a private folder removed afterwards; never on its command line.
version_added: 2.2.0
author: Veltrona maintainers (@veltrona)
extends_documentation_fragment:
  - veltrona.kova.client
  - veltrona.kova.client.password
attributes:
  check_mode:
    description: Runs the client's dry run; fails when the client refuses the change.
    support: full
    details:
      - Sends nothing. Reports a change for every device whose settings
        differ, and for every device given a new password (a device never
        reports its password).
  diff_mode:
    description: Returns the settings that differ, before and after, per device.
    support: full
options:
  devices:
    description:
      - The site's devices and their desired settings, each once.
      - Devices that answer the scan but are not listed are left alone.
    type: list
    elements: dict
    required: true
    suboptions:
      mac:
        description: The device's MAC address, six hexadecimal pairs joined by C(-) or C(:).
        type: str
        required: true
      user:
        description: The device's administrator ID, when it is not C(user).
        type: str
      password:
        description: The device's administrator password, when it is not C(password).
        type: str
      new_password:
        description:
          - A new administrator password for this device, at most 16
            characters, sent with its account request; its other requests
            then use it.
          - When the device refuses the current password, the new one is tried
            as its current one, so that a second run of a rotation reports no
            change.
        type: str
      hostname:
        description: The host name, at most 32 characters.
        type: str
      domain:
        description: The domain name, at most 64 characters.
        type: str
      guest:
        description: Whether guest access is allowed.
        type: bool
      network:
        description:
          - The network settings, as in M(veltrona.kova.kova_device).
          - PPPoE settings, when given, are sent on every run, since the
            client's dry run does not show them.
        type: dict
        suboptions:
          mode:
            description: The network type; without it the device keeps its own.
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
            description: The DNS server used in PPPoE mode with C(devices[].network.dns_mode=manual).
            type: str
  parallel:
    description: How many requests await their devices' answers at once, 1 to 256.
    type: int
    default: 16
seealso:
  - module: veltrona.kova.kova_device
  - module: veltrona.kova.kova_info
'''

EXAMPLES = r'''
- name: Bring the site's cameras to their addresses and host names
  veltrona.kova.kova_site:
    bind: "{{ kova_bind }}"
    user: admin
    password: "{{ kova_password }}"
    devices:
      - mac: 02-4B-56-00-10-01
        hostname: north-gate
        network: {mode: static, ip: 192.168.10.101, netmask: 255.255.255.0, gateway: 192.168.10.1}
      - mac: 02-4B-56-00-10-02
        hostname: north-dock
        guest: false
  register: site

- name: Give two cameras a new administrator password
  veltrona.kova.kova_site:
    user: admin
    password: "{{ kova_old_password }}"
    devices:
      - {mac: 02-4B-56-00-10-01, new_password: "{{ kova_password }}"}
      - {mac: 02-4B-56-00-10-02, new_password: "{{ kova_password }}"}
'''

RETURN = r'''
devices:
  description: One result per listed device, in the order of C(devices).
  returned: always
  type: list
  elements: dict
  contains:
    mac:
      description: The device's MAC address, as the client writes it.
      type: str
      sample: 02-4B-56-00-10-01
    changed:
      description: Whether the device's settings were (or in check mode would be) changed.
      type: bool
    result:
      description:
        - The outcome, as C(veltrona-cli apply --report) names it
          (C(confirmed), C(unchanged), C(auth-failed), C(refused),
          C(no-answer), C(not-found), C(not-sent), C(not-confirmed),
          C(interrupted)); C(null) in check mode for a device that would be changed.
      type: str
      sample: confirmed
    requests:
      description: The requests sent, or in check mode to be sent, in order.
      type: list
      elements: str
      sample: [host name, network]
    address_before:
      description: The address the device answered the scan from (empty when unknown or nothing was sent).
      type: str
    address_after:
      description: The address the device answered the confirmation scan from (empty when unknown).
      type: str
rc:
  description: The exit code of C(veltrona-cli) when it failed the task.
  returned: on failure, when the client refused or failed
  type: int
  sample: 64
diff:
  description:
    - Per MAC address, the settings that differ, before and after, under the
      option names; a new password shows as C(kept) before and C(new) after.
  returned: when diff mode is on
  type: dict
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.veltrona.kova.plugins.module_utils.kova_apply import (
    NETWORK_OPTIONS, Desired, SiteRun)
from ansible_collections.veltrona.kova.plugins.module_utils.veltrona_cli import (
    Client, client_argument_spec, normal_mac)


def main():
    device_options = dict(
        mac=dict(type='str', required=True),
        user=dict(type='str'),
        password=dict(type='str', no_log=True),
        new_password=dict(type='str', no_log=True),
        hostname=dict(type='str'),
        domain=dict(type='str'),
        guest=dict(type='bool'),
        network=dict(type='dict', options=NETWORK_OPTIONS),
    )
    argument_spec = client_argument_spec()
    argument_spec.update(
        user=dict(type='str'),
        password=dict(type='str', no_log=True),
        devices=dict(type='list', elements='dict', required=True, options=device_options),
        parallel=dict(type='int', default=16),
    )
    module = AnsibleModule(argument_spec=argument_spec, supports_check_mode=True)
    client = Client(module)
    if not 1 <= module.params['parallel'] <= 256:
        module.fail_json(msg='parallel must be 1 to 256, not %d' % module.params['parallel'])
    desired = []
    for number, device in enumerate(module.params['devices'], 1):
        mac = normal_mac(device['mac'])
        if mac is None:
            module.fail_json(msg='devices[%d].mac: not a MAC address: %s' % (number, device['mac']))
        if any(d.mac == mac for d in desired):
            module.fail_json(msg='devices[%d].mac: %s is listed twice' % (number, mac))
        desired.append(Desired(
            mac, device['user'] or module.params['user'],
            device['password'] if device['password'] is not None else module.params['password'],
            device['new_password'], device['hostname'], device['domain'], device['guest'],
            device['network']))

    run = SiteRun(module, client, desired, module.params['parallel'])
    run.run()
    devices = [run.results[d.mac] for d in desired]
    result = dict(changed=any(r['changed'] for r in devices), devices=devices)
    if module._diff:
        result['diff'] = dict(before=dict((mac, d['before']) for mac, d in run.diff.items() if d['before']),
                              after=dict((mac, d['after']) for mac, d in run.diff.items() if d['after']))
    failures = run.failures() if not module.check_mode else []
    if failures:
        module.fail_json(msg='%d of %d devices not brought to their settings: %s'
                         % (len(failures), len(devices), '; '.join(failures)), **result)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
