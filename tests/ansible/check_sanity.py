#!/usr/bin/python3
"""ansible-test sanity (validate-modules, pylint, pep8 and the rest of its
default tests) on the veltrona.kova collection with Debian's own checkers,
then the collection built with ansible-galaxy, installed from its tarball and
verified offline against its manifest. Arguments: the collection's folder and
the project's version, which the collection's must be. Exit 77 when the
checkers are not installed."""
import importlib.util, os, shutil, subprocess, sys, tempfile

collection, version = os.path.abspath(sys.argv[1]), sys.argv[2]
here = os.path.dirname(os.path.abspath(__file__))
missing = [name for name in ('voluptuous', 'yamllint', 'pycodestyle', 'pylint', 'ansible_test')
           if importlib.util.find_spec(name) is None]
if missing or not os.access('/usr/bin/ansible-galaxy', os.X_OK):
    print('SKIP: not installed: %s (scripts/install-deps installs them)'
          % ' '.join(missing or ['ansible-galaxy']))
    sys.exit(77)

work = tempfile.mkdtemp(prefix='kova-sanity-')
failures = []
# Debian's Python and tools first, whatever else is on PATH.
environment = dict(os.environ, PATH='/usr/bin:/bin', PYTHONDONTWRITEBYTECODE='1',
                   ANSIBLE_HOME=os.path.join(work, 'home'))


def run(what, command, cwd):
    done = subprocess.run(command, cwd=cwd, env=environment, stdin=subprocess.DEVNULL,
                          capture_output=True, text=True)
    shown = [line for line in (done.stdout + done.stderr).splitlines()
             if not line.startswith('WARNING: ') or 'locale' not in line]
    print('\n'.join(shown))
    if done.returncode != 0:
        failures.append('%s: exit %d' % (what, done.returncode))
    return done


try:
    # ansible-test works in a git work tree named ansible_collections/NAMESPACE/NAME.
    tree = os.path.join(work, 'ansible_collections', 'veltrona', 'kova')
    shutil.copytree(collection, tree, ignore=shutil.ignore_patterns('__pycache__', 'output'))
    for command in (['git', 'init', '-q'], ['git', 'add', '-A']):
        subprocess.run(command, cwd=tree, check=True, env=environment)
    python = '%d.%d' % sys.version_info[:2]
    run('ansible-test sanity', [sys.executable, os.path.join(here, 'ansible-test-offline'),
                                'sanity', '--python', python], tree)

    built = run('ansible-galaxy collection build',
                ['/usr/bin/ansible-galaxy', 'collection', 'build', '--output-path', work, collection],
                work)
    tarball = os.path.join(work, 'veltrona-kova-%s.tar.gz' % version)
    if built.returncode == 0 and not os.path.exists(tarball):
        failures.append('the collection is not version %s, as the project is' % version)
    else:
        installed = os.path.join(work, 'installed')
        run('ansible-galaxy collection install', ['/usr/bin/ansible-galaxy', 'collection', 'install',
                                                  '--offline', '-p', installed, tarball], work)
        run('ansible-galaxy collection verify', ['/usr/bin/ansible-galaxy', 'collection', 'verify',
                                                 '--offline', '-p', installed, 'veltrona.kova'], work)
finally:
    shutil.rmtree(work, ignore_errors=True)

for failure in failures:
    print('FAIL:', failure)
print('sanity, build, install and verify: %d failures' % len(failures))
sys.exit(1 if failures else 0)
