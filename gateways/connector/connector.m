%CONNECTOR  Look a module up at a broker and return a handle to call it.
%   H = CONNECTOR(MODULENAME, HOST, PORT) asks the broker at HOST:PORT
%   where the module MODULENAME lives, connects to the module and returns
%   H, a 1x1 uint32 handle through which INVOKER calls it. Most code uses
%   ZRProxy, which does both in one object.
%
%   MODULENAME  the name under which the broker knows the module (text,
%               without zero characters).
%   HOST        the broker's dotted IPv4 address, IPv6 address or host
%               name (text, without blanks or zero characters). A name
%               that does not start with a digit and lacks ".local" is
%               tried with ".local." appended first.
%   PORT        the broker's port, a real number from 0 to 65535; a
%               fraction is dropped (5000.9 is port 5000).
%
%   H = CONNECTOR(MODULENAME, HOST, PORT, OPTIONS) also takes a struct of
%   options; its fields are the limits of the look-up and of every call
%   made through H, in seconds ([] or Inf: no limit, the default):
%     Timeout         a whole call, from connecting to the last byte of
%                     the reply
%     ConnectTimeout  the look-up at the broker, and each TCP connect;
%                     when it is not given, Timeout bounds the look-up
%   and a History field, how many exchanges H keeps for
%   CONNECTOR('history', H) (a whole number from 0, the default, to 10000).
%   An ArrayResults field (INVOKER's option) is checked alike but has no
%   effect here. A fourth argument that is not a struct is ignored.
%
%   Every call makes a new connection, even to a module that already has
%   one. The handle is a plain number: copies of it name the same module.
%   It stays valid until released, also across clear mex and clear
%   functions; handles are never handed out twice in a session.
%
%   Commands:
%     TF = CONNECTOR('release', H)  closes the connection of H and forgets
%                                   the handle; true when H named a live
%                                   proxy, false when it was released
%                                   before or never issued
%     N = CONNECTOR('count')        the number of live handles
%     F = CONNECTOR('fault')        the fault texts of the last failed
%                                   look-up, a struct with the fields
%                                   faultstring and detail (empty texts
%                                   when the broker sent none)
%     F = CONNECTOR('fault', H)     the same for the last failed call
%                                   made through H
%     S = CONNECTOR('options', S)   checks an options struct by the rules
%                                   above and INVOKER's (zrbridge:badArgument
%                                   when it breaks one) and returns it in
%                                   its normal form: Timeout and
%                                   ConnectTimeout in seconds or [] for no
%                                   limit, ArrayResults 'cell' or
%                                   'numeric', History a number,
%                                   Connections when given (ZRProxy keeps
%                                   its options so)
%     R = CONNECTOR('history', H)   the last exchanges made through H,
%                                   oldest first, as an Nx1 struct array
%                                   with the fields Method, Started,
%                                   Seconds, Request, Reply, Outcome
%     CONNECTOR('history', H, N)    keep the last N exchanges from now on
%     R = CONNECTOR('history')      the exchanges of the last failed
%                                   look-up (when History was given)
%     F = CONNECTOR('trace')        the file that every exchange of this
%                                   process is appended to, or ''
%     CONNECTOR('trace', FILE)      start appending to FILE;
%                                   CONNECTOR('trace', 'off') stops
%
%   Errors carry an identifier that try/catch can test (err.identifier):
%     zrbridge:usage             fewer than three arguments (and no
%                                command)
%     zrbridge:badArgument       a name or host that is not text or holds
%                                a zero character, a host with blanks, a
%                                bad port, an option of the wrong kind,
%                                options that are not a struct ('options')
%     zrbridge:invalidHandle     'release', 'fault' or 'history' with a
%                                handle that is not a uint32; 'fault' or
%                                'history' with a handle of no live proxy
%                                ("Object is NULL !")
%     zrbridge:brokerUnreachable no connection to the broker
%     zrbridge:unknownModule     the broker answered with a fault (it does
%                                not know the module)
%     zrbridge:lookupFailed      any other failure of the look-up
%     zrbridge:timeout           ConnectTimeout (or Timeout, when no
%                                ConnectTimeout is given) expired during
%                                the look-up
%     zrbridge:interrupted       Ctrl-C during the look-up
%     zrbridge:failed            a failure of no known cause (out of
%                                memory, for one)
%   A failed look-up reads "\tZRNetwork::getModuleByName\n\tfailed to get
%   module <name> <url>"; see help ZRProxy.
%
%   Example (with the demo broker started as "zrdemobroker --port 4500"):
%     h = connector('Echo', '127.0.0.1', 4500, struct('Timeout', 10));
%     r = invoker(h, 'echo', {1, 'text'})
%     connector('release', h);
%
%   See also INVOKER, ZRPROXY.

% SPDX-License-Identifier: GPL-2.0-or-later

% The module itself is connector.mex (connector.mexa64 for MATLAB) beside
% this file; this file holds its help text and its tests.

%!error <Usage: proxy = ZRProxy> connector ('Echo', '127.0.0.1')
%!error id=zrbridge:usage connector ('Echo', '127.0.0.1')
%!error id=zrbridge:badArgument connector ('Echo', '127.0.0.1', 70000)
%!error id=zrbridge:badArgument connector (42, '127.0.0.1', 4500)
