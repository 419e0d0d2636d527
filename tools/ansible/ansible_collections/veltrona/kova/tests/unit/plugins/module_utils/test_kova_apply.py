# -*- coding: utf-8 -*-
# Copyright: (c) 2026, The Veltrona developers
# GNU General Public License v3.0+ (see COPYING or https://www.gnu.org/licenses/gpl-3.0.txt)

# The pure parts of kova_apply: the plan and secrets the client is given, and
# what is read from its dry run and report.

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import csv
import io
import unittest

from ansible_collections.veltrona.kova.plugins.module_utils.kova_apply import (
    changed_steps, diff_of, outcome_message, parse_dry_run, plan_problems, plan_row,
    secrets_text, trimmed_row)

# Two devices of a dry run (a host name with the separator in it) and one not found.
DRY_RUN = '''\
02-4B-56-0B-00-01  KV-2100 Dome
  host        a -> b -> yard
  domain      b.example -> b.example  (unchanged)
  guest       no -> no  (unchanged)
  password    (new one from the secrets file)
  mode        dhcp -> static
  ip          (empty) -> 10.78.9.22
  netmask     255.255.0.0 -> 255.255.0.0  (unchanged)
  gateway     10.78.0.1 -> 10.78.0.1  (unchanged)
  dns         10.78.0.53 -> 10.78.0.53  (unchanged)
02-4B-56-0B-00-02  VS-4 Video Server
  host        gate -> gate  (unchanged)
  domain      (empty) -> (empty)  (unchanged)
02-4B-56-0B-00-09  not found
'''


class DryRunTest(unittest.TestCase):
    def setUp(self):
        self.devices = parse_dry_run(DRY_RUN)

    def test_steps_fields_and_state(self):
        first = self.devices['02-4B-56-0B-00-01']
        self.assertEqual([s['name'] for s in first['steps']], ['host name', 'account', 'network'])
        self.assertEqual(first['steps'][0]['fields'][0], ('host', 'a -> b', 'yard', True))
        self.assertEqual(first['steps'][2]['fields'][1], ('ip', '', '10.78.9.22', True))
        self.assertIsNone(first['state'])
        self.assertEqual(self.devices['02-4B-56-0B-00-09']['state'], 'not found')

    def test_only_what_changes_is_sent(self):
        row = plan_row('02-4B-56-0B-00-01', hostname='yard', domain='b.example', guest=False,
                       network=dict(mode='static', ip='10.78.9.22', netmask='255.255.0.0'))
        steps = changed_steps(self.devices['02-4B-56-0B-00-01'], row)
        self.assertEqual(steps, ['host name', 'account', 'network'])
        unchanged = plan_row('02-4B-56-0B-00-02', hostname='gate', domain='')
        self.assertEqual(changed_steps(self.devices['02-4B-56-0B-00-02'], unchanged), [])
        self.assertEqual(trimmed_row(unchanged, []), {'mac': '02-4B-56-0B-00-02'})
        # The guest cell goes with the account step, which the new password keeps.
        self.assertEqual(trimmed_row(row, ['account']),
                         {'mac': '02-4B-56-0B-00-01', 'new_guest': 'no'})
        # PPPoE settings are not shown by the dry run: a network step that carries one goes.
        pppoe = plan_row('02-4B-56-0B-00-02', network=dict(mode='pppoe', pppoe_user='cam'))
        shown = parse_dry_run('02-4B-56-0B-00-02  KV-400\n  mode        pppoe -> pppoe  (unchanged)\n')
        self.assertEqual(changed_steps(shown['02-4B-56-0B-00-02'], pppoe), ['network'])

    def test_diff(self):
        before, after = diff_of(self.devices['02-4B-56-0B-00-01'])
        self.assertEqual(before, dict(hostname='a -> b', password='kept', mode='dhcp', ip=''))
        self.assertEqual(after, dict(hostname='yard', password='new', mode='static',
                                     ip='10.78.9.22'))


class ClientInputTest(unittest.TestCase):
    def test_plan_row(self):
        self.assertEqual(plan_row('02-4B-56-0B-00-01', hostname='-cam', domain="'x", guest=True,
                                  network=dict(mode='pppoe', mtu=1492, pppoe_user='=u', ip=None)),
                         {'mac': '02-4B-56-0B-00-01', 'new_host': "'-cam", 'new_domain': "''x",
                          'new_guest': 'yes', 'new_mode': 'pppoe', 'new_mtu': '1492',
                          'new_pppoe_user': "'=u"})

    def test_secrets_read_back_as_written(self):
        entries = [('02-4B-56-0B-00-01', 'admin', 'Pa,"ss ', None),
                   ('02-4B-56-0B-00-02', 'root', None, 'n\xe9w')]
        rows = list(csv.reader(io.StringIO(secrets_text(entries))))
        self.assertEqual(rows, [['mac', 'user', 'password', 'new_password'],
                                ['02-4B-56-0B-00-01', 'admin', 'Pa,"ss ', ''],
                                ['02-4B-56-0B-00-02', 'root', '', 'n\xe9w']])


class WordingTest(unittest.TestCase):
    def test_messages(self):
        cases = [
            (('not-found', 'no answer to the scan', 2), '02-4B-56-0B-00-01 did not answer the scan within 2 s'),
            (('auth-failed', 'host name', 2), '02-4B-56-0B-00-01: authentication failed at the host name request'),
            (('refused', 'account: the device answered with status 1', 2), '02-4B-56-0B-00-01: refused by the device at the account request'),
            (('refused', 'network: Socket error', 2), '02-4B-56-0B-00-01: refused: network: Socket error'),
            (('no-answer', 'network: no answer within 2 s', 2), '02-4B-56-0B-00-01: network: no answer within 2 s'),
            (('not-confirmed', 'host is x, not y', 2), '02-4B-56-0B-00-01: applied, not confirmed: host is x, not y'),
        ]
        for (result, detail, seconds), message in cases:
            self.assertEqual(outcome_message('02-4B-56-0B-00-01', result, detail, seconds), message)

    def test_plan_problems(self):
        stderr = ('veltrona-cli: /tmp/k/p.json: row 1 (02-4B-56-0B-00-01): 10.78.0.2 is held.\n'
                  'veltrona-cli: nothing was sent\n')
        self.assertEqual(plan_problems(stderr, '/tmp/k/p.json'),
                         ['row 1 (02-4B-56-0B-00-01): 10.78.0.2 is held.'])


if __name__ == '__main__':
    unittest.main()
