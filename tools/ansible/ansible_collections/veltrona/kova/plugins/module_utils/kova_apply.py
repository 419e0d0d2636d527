# -*- coding: utf-8 -*-
# Copyright: (c) 2026, The Veltrona developers
# GNU General Public License v3.0+ (see COPYING or https://www.gnu.org/licenses/gpl-3.0.txt)

# Brings devices to their desired settings through veltrona-cli apply: a plan
# of one row per device, the passwords in a private secrets file, the client's
# dry run for what differs, its JSON report for the outcome. The client checks,
# orders, sends and confirms; this file writes its input and reads its output.

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import csv
import io
import json
import os
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
PPPOE_COLUMNS = ('new_pppoe_user', 'new_pppoe_service', 'new_mtu', 'new_dns_mode', 'new_pppoe_dns')
TEXT_COLUMNS = ('new_host', 'new_domain', 'new_pppoe_user', 'new_pppoe_service')

# The requests a device is sent, in the client's words and order, with the
# fields its dry run shows for each and the plan columns that ask for it.
STEPS = (
    ('host name', ('host', 'domain'), ('new_host', 'new_domain')),
    ('account', ('guest', 'password'), ('new_guest',)),
    ('network', ('mode', 'ip', 'netmask', 'gateway', 'dns'),
     tuple(column for option, column in NETWORK_COLUMNS)),
)
# A field of the dry run under the modules' option name.
OPTION_OF_FIELD = {'host': 'hostname', 'domain': 'domain', 'guest': 'guest', 'mode': 'mode',
                   'ip': 'ip', 'netmask': 'netmask', 'gateway': 'gateway', 'dns': 'dns'}

NETWORK_OPTIONS = dict(
    mode=dict(type='str', choices=['dhcp', 'static', 'pppoe']),
    ip=dict(type='str'), netmask=dict(type='str'), gateway=dict(type='str'),
    dns=dict(type='str'), pppoe_user=dict(type='str'), pppoe_service=dict(type='str'),
    mtu=dict(type='int'), dns_mode=dict(type='str', choices=['auto', 'manual']),
    pppoe_dns=dict(type='str'))

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
GOOD_RESULTS = ('confirmed', 'unchanged')


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


FIELD_LINE = re.compile(r'^  (\S+) +(.*)$')


def parse_dry_run(text):
    """The client's dry run, per MAC: the steps it would send, in order, each
    with its fields as (name, before, after, changed), or the state of a row
    that has nothing to send for another reason (not found)."""
    devices = {}
    current = None
    for line in text.splitlines():
        if not line.startswith(' '):
            mac = normal_mac(line.split(' ', 1)[0])
            if mac is None:
                current = None
                continue
            rest = line[len(mac):].strip()
            current = devices.setdefault(mac, {'steps': [], 'state': None, 'heading': rest})
            continue
        match = FIELD_LINE.match(line)
        if current is None or not match:
            continue
        name, shown = match.groups()
        step = next((s for s, fields, columns in STEPS if name in fields), None)
        if step is None:
            continue
        if not current['steps'] or current['steps'][-1]['name'] != step:
            current['steps'].append({'name': step, 'fields': []})
        if name == 'password':
            current['steps'][-1]['fields'].append(('password', 'kept', 'new', True))
            continue
        unchanged = shown.endswith('  (unchanged)')
        if unchanged:
            shown = shown[:-len('  (unchanged)')]
        before, after = shown.rpartition(' -> ')[::2]
        current['steps'][-1]['fields'].append((name, shown_value(before), shown_value(after),
                                               not unchanged))
    for device in devices.values():
        if not device['steps']:
            device['state'] = device['heading']
    return devices


def shown_value(text):
    return '' if text == '(empty)' else text


def changed_steps(dry, row):
    """The steps of a device's dry run that change something. A PPPoE setting
    is not shown by the dry run, so a network step that carries one counts."""
    changed = []
    for step in (dry or {}).get('steps', []):
        pppoe = step['name'] == 'network' and any(c in row for c in PPPOE_COLUMNS)
        if pppoe or any(field[3] for field in step['fields']):
            changed.append(step['name'])
    return changed


def trimmed_row(row, steps):
    """The row without the columns of the steps that would change nothing:
    the device keeps those values as they are, and nothing is sent for them."""
    keep = dict((name, columns) for name, fields, columns in STEPS)
    trimmed = dict(row)
    for name, columns in keep.items():
        if name not in steps:
            for column in columns:
                trimmed.pop(column, None)
    return trimmed


def diff_of(dry):
    """The fields that a device's dry run changes, before and after, under the
    modules' option names; a new password shows as kept before, new after."""
    before, after = {}, {}
    for step in (dry or {}).get('steps', []):
        for name, was, will, changed in step['fields']:
            if not changed:
                continue
            option = OPTION_OF_FIELD.get(name, name)
            if name == 'guest':
                was, will = was == 'yes', will == 'yes'
            before[option], after[option] = was, will
    return before, after


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
    """One run of veltrona-cli apply for a list of devices: the dry run, then
    (unless in check mode) the plan of what differs, and for a device that
    refuses `password` when a new password is given, a second try with the
    new password as its current one (a rotation done before)."""

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
        self.fields_change = {}

    def fail(self, msg, **extra):
        values = self.returned(self.results)
        values.update(extra)
        values.setdefault('changed', False)
        self.module.fail_json(msg=msg, **values)

    def apply(self, folder, name, rows, entries, dry_run):
        """Runs apply on the rows; its standard output (the dry run) and its
        report's rows by MAC. Fails the task when the client refuses the plan
        or ends otherwise than with 0 or 5."""
        plan = folder.write(name + '.json', json.dumps(rows))
        secrets = folder.write(name + '-secrets.csv', secrets_text(entries))
        arguments = ['apply', plan, '--secrets', secrets]
        report = os.path.join(folder.path, name + '-report.json')
        if dry_run:
            arguments.append('--dry-run')
        else:
            arguments += ['--report', report]
        if self.parallel:
            arguments += ['--parallel', str(self.parallel)]
        code, stdout, stderr = self.client.call(arguments)
        if code == 64:
            problems = plan_problems(stderr, plan)
            self.fail('veltrona-cli refused the change, nothing was sent: %s'
                      % ' '.join(problems or ['no reason given']), rc=code)
        reported = {}
        if not dry_run and code in (0, 5):
            try:
                with open(report, encoding='utf-8') as opened:
                    reported = dict((normal_mac(r['mac']), r) for r in json.load(opened))
            except (OSError, ValueError, KeyError, TypeError) as error:
                self.fail('apply: unreadable report: %s' % error, rc=code, changed=True)
        elif code not in (0, 5):
            detail = ' '.join(line.replace('veltrona-cli: ', '', 1)
                              for line in stderr.strip().splitlines())
            self.fail('apply: %s%s' % (exit_reason(code), ': ' + detail if detail else ''),
                      rc=code, changed=not dry_run)
        return stdout, reported

    def run(self):
        check_mode = self.module.check_mode
        with PrivateFolder() as folder:
            entries = [(d.mac, d.user, d.password, d.new_password) for d in self.desired]
            stdout = self.apply(folder, 'dry-run', [d.row for d in self.desired], entries, True)[0]
            dry = parse_dry_run(stdout)
            rows, missing = [], []
            for d in self.desired:
                result = self.results[d.mac]
                device = dry.get(d.mac)
                if device is not None and device['state']:
                    result['result'] = 'not-found'
                    missing.append(outcome_message(d.mac, 'not-found', '', self.client.seconds))
                    continue
                steps = changed_steps(device, d.row)
                result['requests'] = steps
                before, after = diff_of(device)
                self.diff[d.mac] = dict(before=before, after=after)
                self.fields_change[d.mac] = any(option != 'password' for option in before)
                result['changed'] = bool(steps)
                result['result'] = 'unchanged' if not steps else None
                if steps:
                    rows.append((d, trimmed_row(d.row, steps)))
            if missing:
                self.fail('; '.join(missing))
            if check_mode or not rows:
                return
            without = [d.mac for d, row in rows if d.password is None]
            if without:
                self.fail('password is needed to change %s' % ', '.join(without))
            reported = self.send(folder, 'apply', rows, lambda d: d.password)
            # A device that refuses `password` may have the new one from a rotation
            # done before: it is tried as the current one, and sent again as the new
            # one, which confirms it and leaves it as it is.
            again = [(d, row) for d, row in rows
                     if reported.get(d.mac, {}).get('result') == 'auth-failed'
                     and d.new_password is not None and d.new_password != d.password]
            if again:
                self.send(folder, 'rotated', again, lambda d: d.new_password)

    def send(self, folder, name, rows, current):
        entries = [(d.mac, d.user, current(d), d.new_password) for d, row in rows]
        reported = self.apply(folder, name, [row for d, row in rows], entries, False)[1]
        for d in (d for d, row in rows):
            result = self.results[d.mac]
            line = reported.get(d.mac, {'result': 'not-sent', 'detail': 'not in the report'})
            result['result'] = line.get('result')
            result['detail'] = line.get('detail', '')
            result['address_before'] = line.get('address_before', '')
            result['address_after'] = line.get('address_after', '')
            applied = result['result'] in ('confirmed', 'not-confirmed', 'interrupted')
            # A new password that is the device's already changes nothing.
            new = d.new_password is not None and d.new_password != current(d)
            result['changed'] = applied and (self.fields_change[d.mac] or new)
            if not new and result['result'] in GOOD_RESULTS:
                self.diff[d.mac]['before'].pop('password', None)
                self.diff[d.mac]['after'].pop('password', None)
        return reported

    def failures(self):
        return [outcome_message(r['mac'], r['result'], r.get('detail', ''), self.client.seconds)
                for r in self.results.values() if r['result'] not in GOOD_RESULTS]
