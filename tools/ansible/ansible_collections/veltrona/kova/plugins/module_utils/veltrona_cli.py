# -*- coding: utf-8 -*-
# Copyright: (c) 2026, The Veltrona developers
# GNU General Public License v3.0+ (see COPYING or https://www.gnu.org/licenses/gpl-3.0.txt)

# Runs veltrona-cli on the managed host for the collection's modules: scans,
# configuration commands, and what each exit code means.

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import ipaddress
import json
import os
import re

# The client takes passwords from these variables when no file names them; the
# modules hand passwords over in private files only, so none is inherited.
PASSWORD_VARIABLES = ('VELTRONA_PASSWORD', 'VELTRONA_NEW_PASSWORD', 'VELTRONA_PPPOE_PASSWORD')

EXIT_REASONS = {
    1: 'authentication failed',
    2: 'no answer',
    3: 'refused by the KOVA library',
    4: 'refused by the device',
    5: 'not every device was brought to its settings',
    64: 'refused',
    74: 'the output could not be written',
}

MAC_PATTERN = re.compile(r'[0-9A-Fa-f]{2}([-:])[0-9A-Fa-f]{2}(\1[0-9A-Fa-f]{2}){4}')


def client_argument_spec():
    return dict(
        cli=dict(type='str', default='veltrona-cli'),
        bind=dict(type='str'),
        seconds=dict(type='int', default=5),
    )


def normal_mac(text):
    """The client's spelling of a MAC address (02-4B-56-00-00-01), or None."""
    if text is None or not MAC_PATTERN.fullmatch(text):
        return None
    return text.upper().replace(':', '-')


def normal_address(text):
    """A dotted IPv4 address as the client prints it, or None when malformed."""
    try:
        return str(ipaddress.IPv4Address(text))
    except ValueError:
        return None


def exit_reason(code):
    if code > 128:
        return 'stopped by signal %d' % (code - 128)
    return EXIT_REASONS.get(code, 'exit code %d' % code)


class CliError(Exception):
    def __init__(self, command, code, stderr):
        self.command = command
        self.code = code
        self.stderr = stderr.strip()
        detail = ' '.join(line.replace('veltrona-cli: ', '', 1) for line in self.stderr.splitlines())
        super(CliError, self).__init__('%s: %s%s' % (command, exit_reason(code),
                                                     ': ' + detail if detail else ''))


class Client:
    def __init__(self, module):
        self.module = module
        name = module.params['cli']
        self.path = name if '/' in name else module.get_bin_path(name, required=True)
        self.bind = module.params['bind']
        self.seconds = module.params['seconds']
        if not 1 <= self.seconds <= 3600:
            module.fail_json(msg='seconds must be 1 to 3600, not %d' % self.seconds)
        if self.bind is not None and normal_address(self.bind) is None:
            module.fail_json(msg='bind: not an IPv4 address: %s' % self.bind)
        for name in PASSWORD_VARIABLES:
            os.environ.pop(name, None)

    def common_arguments(self):
        arguments = ['--seconds', str(self.seconds)]
        if self.bind:
            arguments += ['--bind', self.bind]
        return arguments

    def call(self, arguments):
        """Runs the client; its exit code, standard output and standard error."""
        # Texts on the command line are decoded in the locale's character set.
        return self.module.run_command([self.path] + arguments + self.common_arguments(),
                                       environ_update={'LC_ALL': 'C.UTF-8'})

    def run(self, arguments):
        """Runs the client; raises CliError unless it exits with 0."""
        code, stdout, stderr = self.call(arguments)
        if code != 0:
            raise CliError(arguments[0], code, stderr)
        return stdout

    def scan(self):
        """The devices that answered, as the client's JSON objects."""
        output = self.run(['scan', '--format', 'json'])
        try:
            devices = json.loads(output)
        except ValueError as error:
            self.module.fail_json(msg='scan: unreadable JSON from %s: %s' % (self.path, error))
        if not isinstance(devices, list) or not all(isinstance(d, dict) for d in devices):
            self.module.fail_json(msg='scan: %s printed no list of devices' % self.path)
        return devices

    def where(self):
        return ' on %s' % self.bind if self.bind else ''
