# The options that every module of the collection shares.


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
  - C(veltrona-cli) on the managed host, which must be on the devices'
    network segment (KOVA broadcasts do not cross routers).
notes:
  - The module runs C(veltrona-cli) on the managed host and reads its JSON
    output.
'''
