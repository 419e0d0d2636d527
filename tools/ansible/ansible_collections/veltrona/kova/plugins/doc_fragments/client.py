# -*- coding: utf-8 -*-
# Copyright: (c) 2026, The Veltrona developers
# GNU General Public License v3.0+ (see COPYING or https://www.gnu.org/licenses/gpl-3.0.txt)

# The options that the collection's modules share.

from __future__ import absolute_import, division, print_function
__metaclass__ = type


class ModuleDocFragment(object):
    DOCUMENTATION = r'''
options:
  cli:
    description:
      - The C(veltrona-cli) program to run on the managed host, as a path or
        as a name looked up on its C(PATH).
    type: str
    default: veltrona-cli
  bind:
    description:
      - The managed host's IPv4 address to scan from and to send requests
        from, which keeps the module to that address's network.
      - Without it the scan goes out on every IPv4 network of the host.
    type: str
  seconds:
    description:
      - How long each scan listens, and the longest wait for a device's answer
        to a request, in seconds (1 to 3600).
    type: int
    default: 5
requirements:
  - Python 3 on the managed host.
  - C(veltrona-cli) (Debian package C(veltrona)) on the managed host, which
    must be on the devices' network segment (KOVA broadcasts do not cross
    routers).
notes:
  - The module runs C(veltrona-cli) on the managed host and reads its JSON
    output.
'''

    # The credentials of the modules that change devices.
    PASSWORD = r'''
options:
  user:
    description: The administrator ID the devices accept (the client's default is C(root)).
    type: str
  password:
    description:
      - The administrator password. Needed only when something is sent.
    type: str
notes:
  - Passwords are C(no_log) and reach C(veltrona-cli) in a file that only the
    module's user can read (mode 0600, in a private folder removed
    afterwards), never on its command line or in its environment.
'''
