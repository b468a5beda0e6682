'''python-dbusmock's logind template, whose Inhibit also keeps a copy of what the
simulated printer had received at the moment the lock was asked for.

Parameters (dbusmock -p): "transcript", the simulator's transcript file; "snapshot",
where the copy goes.'''

import shutil

import dbus
from dbusmock.templates import logind
from dbusmock.templates.logind import *  # noqa: F401,F403 (the template's methods and names)

_files = {}


def load(mock, parameters):
    _files['transcript'] = parameters['transcript']
    _files['snapshot'] = parameters['snapshot']
    logind.load(mock, parameters)


@dbus.service.method(logind.MAIN_IFACE, in_signature='ssss', out_signature='h')
def Inhibit(self, what, who, why, mode):
    try:
        shutil.copyfile(_files['transcript'], _files['snapshot'])
    except FileNotFoundError:
        open(_files['snapshot'], 'w').close()
    return logind.Inhibit(self, what, who, why, mode)
