# -*- coding: utf-8 -*-
# Copyright: (c) 2026, The Veltrona developers
# GNU General Public License v3.0+ (see COPYING or https://www.gnu.org/licenses/gpl-3.0.txt)

# Brings one KOVA device to the settings a task describes, through
# veltrona-cli apply on a one-device plan.

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
module: kova_device
short_description: Bring a KOVA video device to the desired settings
description:
  - Brings one device to its settings with one run of C(veltrona-cli apply)
    on a one-device plan on the managed host. The client checks the change,
    sends only the requests whose values the device does not show already
    (host and domain name, then the account, then the network settings;
    after a new password the later requests use it) and confirms the result
    by a second scan; its report gives the result and the diff.
  - Settings that are not given are left as they are. When the device already
    has them, nothing is sent and the task reports no change.
  - A change the client refuses (for example an address already in use)
    fails the task with its reasons before anything is sent, in check mode
    too.
  - To configure many devices of a site, M(veltrona.kova.kova_site) does it in
    one task with one scan.
version_added: 1.0.0
author: Veltrona maintainers (@veltrona)
extends_documentation_fragment:
  - veltrona.kova.client
  - veltrona.kova.client.password
  - veltrona.kova.settings
attributes:
  check_mode:
    description: Runs the client's dry run; fails when the client refuses the change.
    support: full
    details:
      - Sends nothing and needs no password. A C(new_password) counts as a
        change, since a device never reports its password.
  diff_mode:
    description: Returns the settings that differ, before and after.
    support: full
options:
  mac:
    description: The device's MAC address, six hexadecimal pairs joined by C(-) or C(:).
    type: str
    required: true
  update_password:
    description:
      - C(always) sends C(new_password) on every run; C(never) never sends it.
    type: str
    choices: [always, never]
    default: always
seealso:
  - module: veltrona.kova.kova_site
  - module: veltrona.kova.kova_info
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

- name: Take a camera over, its new password and its address in one task
  veltrona.kova.kova_device:
    mac: 02-4B-56-00-00-01
    user: admin
    password: "{{ factory_password }}"
    new_password: "{{ camera_admin_password }}"
    network:
      mode: static
      ip: 10.77.9.22
      netmask: 255.255.0.0
      gateway: 10.77.0.1
'''

RETURN = r'''
result:
  description:
    - The outcome, as C(veltrona-cli apply --report) names it
      (C(confirmed), C(unchanged), C(auth-failed), C(refused), C(no-answer),
      C(not-found), C(not-sent), C(not-confirmed), C(interrupted)); in check
      mode C(would-change), C(unchanged) or C(not-found).
  returned: always
  type: str
  sample: confirmed
requests:
  description: The requests sent, or in check mode to be sent, in order.
  returned: always
  type: list
  elements: str
  sample: [host name, network]
address:
  description:
    - The address the device answers from, after the change when it was
      seen again (empty when nothing was sent).
  returned: always
  type: str
  sample: 10.77.9.21
rc:
  description: The exit code of C(veltrona-cli) when it failed the task.
  returned: on failure, when the client refused or failed
  type: int
  sample: 64
diff:
  description:
    - The settings that differ, before and after, under the option names
      (C(mode), C(ip), C(hostname), ...). A new password shows as C(kept)
      before and C(new) after.
  returned: when diff mode is on
  type: dict
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.veltrona.kova.plugins.module_utils.kova_apply import (
    Desired, SiteRun, settings_options)
from ansible_collections.veltrona.kova.plugins.module_utils.veltrona_cli import (
    Client, client_argument_spec, normal_mac)


def main():
    argument_spec = client_argument_spec()
    argument_spec.update(
        mac=dict(type='str', required=True),
        user=dict(type='str'),
        password=dict(type='str', no_log=True),
        update_password=dict(type='str', choices=['always', 'never'], default='always', no_log=False),
        **settings_options()
    )
    module = AnsibleModule(argument_spec=argument_spec, supports_check_mode=True)
    client = Client(module)
    params = module.params
    mac = normal_mac(params['mac'])
    if mac is None:
        module.fail_json(msg='mac: not a MAC address: %s' % params['mac'])
    new_password = params['new_password'] if params['update_password'] == 'always' else None
    desired = Desired(mac, params['user'], params['password'], new_password, params['hostname'],
                      params['domain'], params['guest'], params['network'])

    def returned(results):
        outcome = results[mac]
        return dict(changed=outcome['changed'], result=outcome['result'],
                    requests=outcome['requests'],
                    address=outcome['address_after'] or outcome['address_before'])

    run = SiteRun(module, client, [desired], returned=returned)
    run.run()
    result = returned(run.results)
    if module._diff:
        result['diff'] = run.diff.get(mac, dict(before={}, after={}))
    failures = run.failures()
    if failures:
        module.fail_json(msg=failures[0], **result)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
