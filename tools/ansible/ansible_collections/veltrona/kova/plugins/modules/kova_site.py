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
  - The client leaves out every request whose values the device shows
    already. Devices that have their settings are sent nothing, and when none
    differs nothing is sent at all and the task reports no change. The
    client's report gives each device's result and the diff.
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
  - veltrona.kova.settings.site
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
          C(interrupted)); in check mode C(would-change), C(unchanged) or C(not-found).
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
    Desired, SiteRun, settings_options)
from ansible_collections.veltrona.kova.plugins.module_utils.veltrona_cli import (
    Client, client_argument_spec, normal_mac)


def main():
    device_options = dict(
        mac=dict(type='str', required=True),
        user=dict(type='str'),
        password=dict(type='str', no_log=True),
        **settings_options()
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
    failures = run.failures()
    if failures:
        module.fail_json(msg='%d of %d devices not brought to their settings: %s'
                         % (len(failures), len(devices), '; '.join(failures)), **result)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
