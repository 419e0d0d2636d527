# -*- coding: utf-8 -*-
# Copyright: (c) 2026, The Veltrona developers
# GNU General Public License v3.0+ (see COPYING or https://www.gnu.org/licenses/gpl-3.0.txt)

# A device's desired settings, documented once: the options of kova_device and
# the suboptions of each of kova_site's devices.

from __future__ import absolute_import, division, print_function
__metaclass__ = type

from textwrap import indent

SETTINGS = r'''
network:
  description:
    - The network settings. Addresses are only sent in C(static) mode, the
      PPPoE settings only in C(pppoe) mode; a setting that the mode would not
      send fails the task before anything is sent.
    - Without C(network.mode) the device keeps its mode.
    - Only settings that differ from the device's are sent; the PPPoE
      password is set with C(veltrona-cli set-network --pppoe-password-file).
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
      description: The DNS server used in PPPoE mode when C(network.dns_mode=manual).
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
      C(new_password) when that is sent, else to the current one, which keeps it.
  type: bool
new_password:
  description:
    - A new administrator password, at most 16 characters, sent with the
      account request; the device's later requests use it. A device never
      shows its password, so a new one is sent on every run.
    - When the device refuses the current password, C(new_password) is tried
      as its current one, as after a rotation done before; it is then sent
      once more, which confirms it, and no change is reported for it.
  type: str
'''


class ModuleDocFragment(object):
    """The settings as the options of kova_device (DOCUMENTATION) and as the
    suboptions of each of kova_site's devices (SITE), both made below from the
    one text above."""


# Assigned here rather than written out in the class: the sanity checks' YAML
# linter reads a fragment's class only as literal texts, and the two differ
# from the one text in their indentation and kova_site's own suboptions.
ModuleDocFragment.DOCUMENTATION = 'options:\n' + indent(SETTINGS.strip('\n'), '  ') + '\n'
ModuleDocFragment.SITE = r'''
options:
  devices:
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
''' + indent(SETTINGS.strip('\n'), '      ') + '\n'
