# -*- coding: utf-8 -*-
# Copyright: (c) 2026, The Veltrona developers
# GNU General Public License v3.0+ (see COPYING or https://www.gnu.org/licenses/gpl-3.0.txt)

# Lists the KOVA devices that a site's host sees.

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
module: kova_info
short_description: List the KOVA video devices on the managed host's networks
description:
  - Scans for KOVA devices (cameras, video servers) with C(veltrona-cli scan)
    on the managed host and returns every device that answered.
  - Changes nothing; runs the same in check mode.
version_added: 1.0.0
author: Veltrona maintainers (@veltrona)
extends_documentation_fragment:
  - veltrona.kova.client
attributes:
  check_mode:
    description: Runs the same as without check mode, since the module changes nothing.
    support: full
  diff_mode:
    description: Shows no diff, since the module changes nothing.
    support: none
seealso:
  - module: veltrona.kova.kova_site
  - module: veltrona.kova.kova_device
'''

EXAMPLES = r'''
- name: List the devices on the camera network
  veltrona.kova.kova_info:
    bind: 10.77.0.1
    seconds: 3
  register: site

- name: Show each device's address and host name
  ansible.builtin.debug:
    msg: "{{ item.mac }} {{ item.ipAddress }} {{ item.hostName }}"
  loop: "{{ site.devices }}"
'''

RETURN = r'''
devices:
  description:
    - One object per device, in the order of their first answers, as
      C(veltrona-cli scan --format json) prints it. Among its members
      C(mac), C(ipAddress) (the address the answer came from),
      C(settingsIpAddress), C(netMask), C(gateway), C(dnsServer), C(mode)
      (0 static, 1 DHCP, 2 PPPoE), C(hostName), C(domainName),
      C(guestAccount), C(modelName), C(serialNumber), C(version) and
      C(interfaceName) (the host's interface the answer arrived on).
    - Device texts are untrusted input.
  returned: always
  type: list
  elements: dict
  sample:
    - mac: 02-4B-56-00-00-01
      ipAddress: 10.77.1.1
      settingsIpAddress: 10.77.1.1
      mode: 0
      hostName: lobby
      interfaceName: eth1
interfaces:
  description: The host's network interfaces that devices answered on, each once, in order.
  returned: always
  type: list
  elements: str
  sample: [eth1]
rc:
  description: The exit code of C(veltrona-cli) when it failed the task.
  returned: on failure
  type: int
  sample: 3
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.veltrona.kova.plugins.module_utils.veltrona_cli import (
    CliError, Client, client_argument_spec)


def main():
    module = AnsibleModule(argument_spec=client_argument_spec(), supports_check_mode=True)
    client = Client(module)
    try:
        devices = client.scan()
    except CliError as error:
        module.fail_json(msg='cannot list the devices%s: %s' % (client.where(), error),
                         rc=error.code)
    interfaces = []
    for device in devices:
        name = device.get('interfaceName')
        if name and name not in interfaces:
            interfaces.append(name)
    module.exit_json(changed=False, devices=devices, interfaces=interfaces)


if __name__ == '__main__':
    main()
