# Runs veltrona-cli on the managed host for the collection's modules: scans,
# configuration commands, and what each exit code means.

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import ipaddress
import json
import os
import re
import subprocess

# The client takes passwords from these variables; an inherited one would be
# sent (even when empty), so the child sees only those the module sets.
PASSWORD_VARIABLES = ('VELTRONA_PASSWORD', 'VELTRONA_NEW_PASSWORD', 'VELTRONA_PPPOE_PASSWORD')

EXIT_REASONS = {
    1: 'authentication failed',
    2: 'no answer',
    3: 'refused by the KOVA library',
    4: 'refused by the device',
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


class CliError(Exception):
    def __init__(self, command, code, stderr):
        self.command = command
        self.code = code
        self.stderr = stderr.strip()
        reason = EXIT_REASONS.get(code, 'exit code %d' % code)
        detail = self.stderr.replace('veltrona-cli: ', '')
        super(CliError, self).__init__('%s: %s%s' % (command, reason, ': ' + detail if detail else ''))


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

    def common_arguments(self):
        arguments = ['--seconds', str(self.seconds)]
        if self.bind:
            arguments += ['--bind', self.bind]
        return arguments

    def run(self, arguments, passwords=None):
        """Runs the client; raises CliError unless it exits with 0. Passwords
        go to the child's environment only, never to its command line."""
        environment = dict((k, v) for k, v in os.environ.items() if k not in PASSWORD_VARIABLES)
        # Texts on the command line are decoded in the locale's character set.
        environment['LC_ALL'] = 'C.UTF-8'
        environment.update(passwords or {})
        try:
            done = subprocess.run([self.path] + arguments + self.common_arguments(),
                                  env=environment, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                  timeout=3 * self.seconds + 30)
        except (OSError, subprocess.TimeoutExpired) as error:
            self.module.fail_json(msg='%s %s: %s' % (self.path, arguments[0], error))
        stdout = done.stdout.decode('utf-8', 'replace')
        stderr = done.stderr.decode('utf-8', 'replace')
        if done.returncode != 0:
            raise CliError(arguments[0], done.returncode, stderr)
        return stdout

    def scan(self, show_secrets=False):
        """The devices that answered, as the client's JSON objects."""
        arguments = ['scan', '--format', 'json']
        if show_secrets:
            arguments.append('--show-secrets')
        output = self.run(arguments)
        try:
            devices = json.loads(output)
        except ValueError as error:
            self.module.fail_json(msg='scan: unreadable JSON from %s: %s' % (self.path, error))
        if not isinstance(devices, list) or not all(isinstance(d, dict) for d in devices):
            self.module.fail_json(msg='scan: %s printed no list of devices' % self.path)
        return devices

    def where(self):
        return ' on %s' % self.bind if self.bind else ''
