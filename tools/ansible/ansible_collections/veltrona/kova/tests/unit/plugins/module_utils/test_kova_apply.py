# -*- coding: utf-8 -*-
# Copyright: (c) 2026, The Veltrona developers
# GNU General Public License v3.0+ (see COPYING or https://www.gnu.org/licenses/gpl-3.0.txt)

# The pure parts of kova_apply: the plan and secrets the client is given, and
# what is read from its report.

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import csv
import io
import unittest

from ansible_collections.veltrona.kova.plugins.module_utils.kova_apply import (
    outcome_message, plan_problems, plan_row, planned, secrets_text)

SHOWN = dict(host='a', domain='b.example', guest='no', mode='dhcp', ip='', netmask='255.255.0.0',
             gateway='10.78.0.1', dns='10.78.0.53', pppoe_user='', pppoe_service='', mtu='0',
             dns_mode='auto', pppoe_dns='')


class ReportTest(unittest.TestCase):
    def test_requests_and_diff_of_a_report_row(self):
        line = dict(before=SHOWN, after=dict(SHOWN, host='yard', mode='static', ip='10.78.9.22'))
        self.assertEqual(planned(line, 'n3w'), (
            ['host name', 'account', 'network'],
            dict(hostname='a', mode='dhcp', ip='', password='kept'),
            dict(hostname='yard', mode='static', ip='10.78.9.22', password='new')))
        # Values as the options take them; a row without values (not found) has none.
        pppoe = dict(before=SHOWN, after=dict(SHOWN, guest='yes', mode='pppoe', mtu='1492'))
        self.assertEqual(planned(pppoe, None), (
            ['account', 'network'], dict(guest=False, mode='dhcp', mtu=0),
            dict(guest=True, mode='pppoe', mtu=1492)))
        self.assertEqual(planned(dict(result='not-found'), None), ([], {}, {}))


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
