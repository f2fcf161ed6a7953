%CONNECTOR  Look a module up at a broker and return a handle to call it.
%   H = CONNECTOR(MODULENAME, HOST, PORT) asks the broker at HOST:PORT
%   where the module MODULENAME lives, connects to the module and returns
%   H, a 1x1 uint32 handle through which INVOKER calls it. Most code uses
%   ZRProxy, which does both in one object.
%
%   MODULENAME  the name under which the broker knows the module (text).
%   HOST        the broker's dotted IPv4 address or host name (text). A
%               name that does not start with a digit and lacks ".local"
%               is completed with ".local." first.
%   PORT        the broker's port, a real number from 0 to 65535; a
%               fraction is dropped (5000.9 is port 5000).
%
%   Every call makes a new connection, even to a module that already has
%   one. The handle is a plain number: copies of it name the same module.
%
%   Errors carry an identifier that try/catch can test (err.identifier):
%     zrbridge:usage        fewer than three arguments
%     zrbridge:badArgument  a name or host that is not text, a bad port
%   and, when the look-up fails, one of zrbridge:brokerUnreachable,
%   zrbridge:unknownModule or zrbridge:lookupFailed (see help ZRProxy).
%
%   Example (with the demo broker started as "zrdemobroker --port 4500"):
%     h = connector('Echo', '127.0.0.1', 4500);
%     r = invoker(h, 'echo', {1, 'text'})
%
%   See also INVOKER, ZRPROXY.

% The module itself is connector.mex (connector.mexa64 for MATLAB) beside
% this file; this file holds its help text and its tests.

%!error <Usage: proxy = ZRProxy> connector ('Echo', '127.0.0.1')
%!error id=zrbridge:usage connector ('Echo', '127.0.0.1')
%!error id=zrbridge:badArgument connector ('Echo', '127.0.0.1', 70000)
%!error id=zrbridge:badArgument connector (42, '127.0.0.1', 4500)
