function [port, broker] = zrdemobroker(program)
  % ZRDEMOBROKER  Start the bundled demo module broker (SOAP over HTTP) on a free port.
  %
  %   [port, broker] = zrdemobroker() starts the demo broker that comes
  %   with zrbridge on 127.0.0.1, on a port that is free, and returns that
  %   port and broker, a handle to the running broker: delete(broker), or
  %   clearing the last variable that holds it, stops the broker.
  %     [port, broker] = zrdemobroker();
  %     p = ZRProxy('Echo', '127.0.0.1', port);
  %     r = p('echo', {1, 'text'})
  %     clear p broker                 % closes the proxy, stops the broker
  %
  %   The broker serves the modules Echo (echo, wrap, typeOf, ...), Math
  %   (sum, matmul, scale), Store (put, get, make, ...) and Faulty (fail,
  %   stall, ...), the ones zrdemo tours.
  %
  %   [port, broker] = zrdemobroker(program) starts the broker program at
  %   that path instead. The bundled one is looked for beside the MEX
  %   modules (an installed Octave package), in the build tree those
  %   modules come from (tools/demobroker/), and in the bin/ folder of a
  %   CMake install.
  %
  %   See also ZRDEMO, ZRPROXY.

  % SPDX-License-Identifier: GPL-2.0-or-later
  if nargout < 2
    % The handle is what keeps the broker running: without it the broker
    % would stop at once.
    error('zrbridge:usage', 'Usage: [port, broker] = zrdemobroker()');
  end
  if nargin < 1
    program = bundledBroker();
  end
  broker = ZRBrokerProcess(program);
  port = broker.port;
end

function program = bundledBroker()
  here = fileparts(mfilename('fullpath'));
  modules = fileparts(which('connector'));
  candidates = {};
  if ~isempty(modules)
    candidates = {fullfile(modules, 'zrdemobroker'), ...
                  fullfile(modules, '..', 'tools', 'demobroker', 'zrdemobroker')};
  end
  % share/zrbridge/octave (or matlab) -> bin/ of a CMake install.
  candidates{end + 1} = fullfile(here, '..', '..', '..', 'bin', 'zrdemobroker');
  for k = 1:numel(candidates)
    if exist(candidates{k}, 'file') == 2
      program = candidates{k};
      return;
    end
  end
  error('zrbridge:badArgument', ['zrdemobroker: the demo broker program was not found; looked at:\n  %s\n' ...
         'Pass its path: [port, broker] = zrdemobroker(''/path/to/zrdemobroker'')'], ...
        strjoin(candidates, [char(10) '  ']));
end

%!error id=zrbridge:usage port = zrdemobroker ()
%!error id=zrbridge:badArgument [port, broker] = zrdemobroker ('/nonexistent/zrdemobroker')

%!test
%! % Two brokers at once, each on a port of its own; deleting one stops it
%! % and leaves the other serving.
%! [port1, broker1] = zrdemobroker ();
%! [port2, broker2] = zrdemobroker ();
%! assert (port1 != port2);
%! p = ZRProxy ('Echo', '127.0.0.1', port2);
%! delete (broker1);
%! delete (broker1);
%! try
%!   ZRProxy ('Echo', '127.0.0.1', port1, 'ConnectTimeout', 5);
%!   error ('the deleted broker still answers');
%! catch err
%!   assert (err.identifier, 'zrbridge:brokerUnreachable');
%! end_try_catch
%! assert (p ('echo', {int32(2)}), {int32(2)});
