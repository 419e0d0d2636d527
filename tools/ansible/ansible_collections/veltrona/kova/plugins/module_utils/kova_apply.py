# -*- coding: utf-8 -*-
# Copyright: (c) 2026, The Veltrona developers
# GNU General Public License v3.0+ (see COPYING or https://www.gnu.org/licenses/gpl-3.0.txt)

# Brings devices to their desired settings through one run of veltrona-cli
# apply: a plan of one row per device, the passwords in a private secrets file,
# the client's JSON report for what differed and the outcome. The client
# checks, leaves out what the devices show already, orders, sends and
# confirms; this file writes its input and reads its output.

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import csv
import io
import json
import os
from operator import attrgetter
import re
import shutil
import tempfile

from ansible_collections.veltrona.kova.plugins.module_utils.veltrona_cli import (
    exit_reason, normal_mac)

# The network option, its plan column.
NETWORK_COLUMNS = (
    ('mode', 'new_mode'), ('ip', 'new_ip'), ('netmask', 'new_netmask'),
    ('gateway', 'new_gateway'), ('dns', 'new_dns'),
    ('pppoe_user', 'new_pppoe_user'), ('pppoe_service', 'new_pppoe_service'),
    ('mtu', 'new_mtu'), ('dns_mode', 'new_dns_mode'), ('pppoe_dns', 'new_pppoe_dns'),
)
TEXT_COLUMNS = ('new_host', 'new_domain', 'new_pppoe_user', 'new_pppoe_service')

# The requests a device is sent, in the client's words and order, with the
# fields of the client's report that each sends.
STEPS = (
    ('host name', ('host', 'domain')),
    ('account', ('guest',)),
    ('network', ('mode', 'ip', 'netmask', 'gateway', 'dns', 'pppoe_user', 'pppoe_service', 'mtu',
                 'dns_mode', 'pppoe_dns')),
)
# A field of the report under the modules' option name, when it differs.
OPTION_OF_FIELD = {'host': 'hostname'}

NETWORK_OPTIONS = dict(
    mode=dict(type='str', choices=['dhcp', 'static', 'pppoe']),
    ip=dict(type='str'), netmask=dict(type='str'), gateway=dict(type='str'),
    dns=dict(type='str'), pppoe_user=dict(type='str'), pppoe_service=dict(type='str'),
    mtu=dict(type='int'), dns_mode=dict(type='str', choices=['auto', 'manual']),
    pppoe_dns=dict(type='str'))


def settings_options():
    """The options of a device's desired settings, as both modules take them
    (their documentation is the settings doc fragment); new dictionaries at
    each call."""
    return dict(
        hostname=dict(type='str'),
        domain=dict(type='str'),
        guest=dict(type='bool'),
        network=dict(type='dict', options=NETWORK_OPTIONS),
        new_password=dict(type='str', no_log=True),
    )


# Report result: how a message says it, when the client's detail does not.
RESULT_WORDS = {
    'auth-failed': 'authentication failed',
    'refused': 'refused',
    'no-answer': 'no answer',
    'not-found': 'not found',
    'not-sent': 'not sent',
    'not-confirmed': 'applied, not confirmed',
    'interrupted': 'partly applied, interrupted',
}
GOOD_RESULTS = ('confirmed', 'unchanged', 'would-change')
# A row whose requests went out, some or all.
APPLIED_RESULTS = ('confirmed', 'not-confirmed', 'interrupted')


def text_cell(value):
    """A plan cell for a text: the client drops one leading apostrophe that
    protects a formula start (or another apostrophe), so such a text gets one."""
    return "'" + value if value[:1] in ("'", '=', '+', '-', '@', '\t', '\r') else value


def plan_row(mac, hostname=None, domain=None, guest=None, network=None):
    """A device's desired settings as a row of a JSON plan (every value a text)."""
    row = {'mac': mac}
    wanted = dict(new_host=hostname, new_domain=domain)
    if guest is not None:
        wanted['new_guest'] = 'yes' if guest else 'no'
    for option, column in NETWORK_COLUMNS:
        wanted[column] = (network or {}).get(option)
    for column, value in wanted.items():
        if value is not None:
            value = str(value)
            row[column] = text_cell(value) if column in TEXT_COLUMNS else value
    return row


def secrets_text(entries):
    """The secrets file of (mac, user, password, new_password) entries, as a
    spreadsheet writes it; a new password of None leaves its cell empty."""
    out = io.StringIO()
    writer = csv.writer(out, lineterminator='\n')
    writer.writerow(['mac', 'user', 'password', 'new_password'])
    for mac, user, password, new_password in entries:
        writer.writerow([mac, user, password or '', new_password or ''])
    return out.getvalue()


def option_value(field, text):
    """A value of the client's report as the modules' option takes it."""
    if field == 'guest':
        return text == 'yes'
    if field == 'mtu':
        return int(text) if text.isdigit() else text
    return text


def planned(line, new_password):
    """The requests a row of the client's report sends (or would send), in
    order, and the fields that differ, before and after, under the option
    names. A device never shows its password: a new one is sent on every run,
    and shows as kept before, new after."""
    was, will = line.get('before') or {}, line.get('after') or {}
    requests, before, after = [], {}, {}
    for step, fields in STEPS:
        differ = [f for f in fields if was.get(f) != will.get(f)]
        if differ or (step == 'account' and new_password is not None):
            requests.append(step)
        for field in differ:
            option = OPTION_OF_FIELD.get(field, field)
            before[option] = option_value(field, was.get(field, ''))
            after[option] = option_value(field, will.get(field, ''))
    if new_password is not None:
        before['password'], after['password'] = 'kept', 'new'
    return requests, before, after


def plan_problems(stderr, plan_path):
    """The client's reasons for refusing a plan, without its own name and the
    plan file's (a file of the module's)."""
    problems = []
    for line in stderr.splitlines():
        line = line.strip()
        if line.startswith('veltrona-cli: '):
            line = line[len('veltrona-cli: '):]
        if line.startswith(plan_path + ': '):
            line = line[len(plan_path) + 2:]
        if line and line != 'nothing was sent':
            problems.append(line)
    return problems


def outcome_message(mac, result, detail, seconds):
    """One sentence for a device the run did not bring to its settings."""
    if result == 'not-found':
        return '%s did not answer the scan within %d s' % (mac, seconds)
    words = RESULT_WORDS.get(result, result)
    if result == 'auth-failed':
        return '%s: authentication failed at the %s request' % (mac, detail or 'first')
    # The client names a refusing device's answer by its status number.
    refusal = re.match(r'^(host name|account|network): the device answered with status \d+$', detail)
    if result == 'refused' and refusal:
        return '%s: refused by the device at the %s request' % (mac, refusal.group(1))
    if detail.startswith(words) or result in ('no-answer', 'not-sent'):
        return '%s: %s' % (mac, detail or words)
    return '%s: %s: %s' % (mac, words, detail) if detail else '%s: %s' % (mac, words)


class PrivateFolder:
    """A folder only this user can enter, for files that hold passwords;
    removed with everything in it when the block ends."""

    def __enter__(self):
        self.path = tempfile.mkdtemp(prefix='kova-')
        return self

    def write(self, name, text):
        path = os.path.join(self.path, name)
        descriptor = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC | os.O_EXCL, 0o600)
        with os.fdopen(descriptor, 'w', encoding='utf-8') as opened:
            opened.write(text)
        return path

    def __exit__(self, *exception):
        shutil.rmtree(self.path, ignore_errors=True)


class Desired:
    """One device's desired state as a task gives it."""

    def __init__(self, mac, user, password, new_password, hostname=None, domain=None,
                 guest=None, network=None):
        self.mac = mac
        self.user = user or 'root'
        self.password = password
        self.new_password = new_password
        self.row = plan_row(mac, hostname, domain, guest, network)


class SiteRun:
    """veltrona-cli apply for a list of devices, run once: its dry run in
    check mode, else the change itself, each with its JSON report. A device
    that refuses `password` when a new password is given is tried once more
    with the new password as its current one (a rotation done before)."""

    def __init__(self, module, client, desired, parallel=None, returned=None):
        self.module = module
        # The module's return values made of the devices' results.
        self.returned = returned or (lambda results: dict(devices=list(results.values())))
        self.client = client
        self.desired = desired
        self.parallel = parallel
        self.results = dict((d.mac, {'mac': d.mac, 'changed': False, 'result': None,
                                     'requests': [], 'address_before': '', 'address_after': ''})
                            for d in desired)
        self.diff = {}

    def fail(self, msg, **extra):
        values = self.returned(self.results)
        values.update(extra)
        values.setdefault('changed', False)
        self.module.fail_json(msg=msg, **values)

    def apply(self, folder, name, devices, current, dry_run):
        """Runs apply on the devices' rows, `current` giving each one's
        password; its report's rows by MAC. Fails the task when the client
        refuses the plan or ends otherwise than with 0 or 5."""
        plan = folder.write(name + '.json', json.dumps([d.row for d in devices]))
        entries = [(d.mac, d.user, current(d), d.new_password) for d in devices]
        secrets = folder.write(name + '-secrets.csv', secrets_text(entries))
        report = os.path.join(folder.path, name + '-report.json')
        arguments = ['apply', plan, '--secrets', secrets, '--report', report]
        if dry_run:
            arguments.append('--dry-run')
        if self.parallel:
            arguments += ['--parallel', str(self.parallel)]
        code, stdout, stderr = self.client.call(arguments)
        if code == 64:
            problems = plan_problems(stderr, plan)
            self.fail('veltrona-cli refused the change, nothing was sent: %s'
                      % ' '.join(problems or ['no reason given']), rc=code)
        if code not in (0, 5):
            detail = ' '.join(line.replace('veltrona-cli: ', '', 1)
                              for line in stderr.strip().splitlines())
            self.fail('apply: %s%s' % (exit_reason(code), ': ' + detail if detail else ''),
                      rc=code, changed=not dry_run)
        try:
            with open(report, encoding='utf-8') as opened:
                return dict((normal_mac(r['mac']), r) for r in json.load(opened))
        except (OSError, ValueError, KeyError, TypeError) as error:
            self.fail('apply: unreadable report: %s' % error, rc=code, changed=not dry_run)

    def take(self, devices, reported, current):
        """The devices' results and diff from the report's rows."""
        for d in devices:
            result = self.results[d.mac]
            line = reported.get(d.mac, {'result': 'not-sent', 'detail': 'not in the report'})
            result['result'] = line.get('result')
            result['detail'] = line.get('detail', '')
            result['address_before'] = line.get('address_before', '')
            result['address_after'] = line.get('address_after', '')
            requests, before, after = planned(line, d.new_password)
            unsent = result['result'] in ('unchanged', 'not-found')
            result['requests'] = [] if unsent else requests
            # A new password that is the device's already changes nothing.
            new = d.new_password is not None and d.new_password != current(d)
            if not new or unsent:
                before.pop('password', None)
                after.pop('password', None)
            self.diff[d.mac] = dict(before=before, after=after)
            if result['result'] == 'would-change':
                result['changed'] = bool(before)
            else:
                result['changed'] = result['result'] in APPLIED_RESULTS and bool(before)

    def run(self):
        check_mode = self.module.check_mode
        password = attrgetter('password')
        with PrivateFolder() as folder:
            # Without every password, the dry run tells whether one is needed.
            if check_mode or any(d.password is None for d in self.desired):
                self.take(self.desired, self.apply(folder, 'dry-run', self.desired, password, True),
                          password)
                if check_mode:
                    return
                rows = [d for d in self.desired if self.results[d.mac]['result'] == 'would-change']
                without = [d.mac for d in rows if d.password is None]
                if without:
                    self.fail('password is needed to change %s' % ', '.join(without))
            else:
                rows = self.desired
            if not rows:
                return
            self.take(rows, self.apply(folder, 'apply', rows, password, False), password)
            # A device that refuses `password` may have the new one from a rotation
            # done before: it is tried as the current one, and sent again as the new
            # one, which confirms it and leaves it as it is.
            again = [d for d in rows if self.results[d.mac]['result'] == 'auth-failed'
                     and d.new_password is not None and d.new_password != d.password]
            if again:
                rotated = attrgetter('new_password')
                self.take(again, self.apply(folder, 'rotated', again, rotated, False), rotated)

    def failures(self):
        return [outcome_message(r['mac'], r['result'], r.get('detail', ''), self.client.seconds)
                for r in self.results.values() if r['result'] not in GOOD_RESULTS]
