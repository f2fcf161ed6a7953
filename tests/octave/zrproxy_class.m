% The ZRProxy class: construction, calls through p('method', {...}),
% property access, errors and the help text.

% SPDX-License-Identifier: GPL-2.0-or-later
broker = zrt_broker_start();
unwind_protect
  port = broker.port;
  zrt_expect_error(@() ZRProxy('Echo', '127.0.0.1'), ...
                   'Usage: proxy = ZRProxy(''moduleName'',''ip'',port)', 'constructor usage');
  zrt_expect_error(@() ZRProxy('Nope', '127.0.0.1', port), zrt_fail_message('connector', ...
      sprintf(['\tZRNetwork::getModuleByName\n\tfailed to get module Nope http://127.0.0.1:%d\n' ...
               '\tthe broker answered with a fault: Unknown module'], port)), ...
      'unknown module');

  p = ZRProxy('Echo', '127.0.0.1', port);
  zrt_check_equal(class(p), 'ZRProxy', 'class');
  zrt_check_equal(class(p.handle), 'uint32', 'handle property');
  zrt_check_equal(p.moduleName, 'Echo', 'moduleName property');
  zrt_check_equal(p.port, port, 'port property');
  zrt_check_equal(invoker(p.handle, 'echo', {'raw'}), {'raw'}, 'raw invoker on p.handle');

  zrt_check_equal(p('echo', {1, 'a', int8(2), true, [1 2]}), {1; 'a'; int32(2); true; {1; 2}}, ...
                  'call with parameters');
  zrt_check_equal(p('typeOf'), 'Invalid', 'call without parameters');
  zrt_check_equal(p('wrap', {'x'}), {'x'}, 'unwrapped reply');
  zrt_check_equal(p('echo', {5, 'b'}){2}, 'b', 'indexing into the result');
  q = p;
  zrt_check_equal(q('echo', {'copy'}), {'copy'}, 'call through a copy');

  % A call used as a statement sets ans; one without a result sets nothing,
  % and asking for its output is an error.
  clear ans;
  p('echo', {7});
  zrt_check_equal(ans, {7}, 'ans after a statement call');
  clear ans;
  p('echo');
  assert(~exist('ans', 'var'), 'a call without a result set ans');
  zrt_expect_error(@() disp(p('echo')), 'The method ''echo'' returned no value', 'no result');

  % Errors of the call itself.
  usage = zrt_fail_message('invoker', 'Usage: proxy(methodname[, parameters])');
  zrt_expect_error(@() p(), usage, 'call without a method');
  zrt_expect_error(@() p('echo', {1}, 3), usage, 'call with three arguments');
  zrt_expect_error(@() p(5, {1}), zrt_fail_message('invoker', 'The method name must be a char array'), ...
                   'numeric method name');
  zrt_expect_error(@() p('echo', 5), zrt_fail_message('invoker', 'The parameters must be a cell array'), ...
                   'parameters not in a cell');
  zrt_expect_error(@() p('nope', {}), zrt_fail_message('invoker', ...
      sprintf('\tEcho::SOAP error:Unknown method\n\tSOAP detail: Echo::nope\nmethods of Echo: echo, wrap, first, typeOf, types, sizeOf, delay')), 'remote fault');
  out = zrt_expect_error(@() p('echo', {single(1)}), ...
                         zrt_fail_message('invoker', "Unknown parameter type: single (parameter 1)\n"), ...
                         'refused parameter');
  zrt_check_equal(out, sprintf('Unknown parameter type: 7\n'), 'refused parameter note');

  % Several proxies side by side.
  m = ZRProxy('Math', '127.0.0.1', port);
  assert(m.handle ~= p.handle, 'two proxies share a handle');
  zrt_check_equal(m('matmul', {[1 2; 3 4], [1 0; 0 1]}), {{1; 2}; {3; 4}}, 'Math through ZRProxy');
  zrt_check_equal(p('echo', {'after math'}), {'after math'}, 'Echo after Math');

  % Display and help.
  shown = evalc('disp(p)');
  expected = sprintf('ZRProxy for module ''Echo'' at broker 127.0.0.1:%d (handle %d)', port, p.handle);
  assert(~isempty(strfind(shown, expected)), 'disp shows "%s"', shown);
  text = evalc('help ZRProxy');
  for phrase = {'single precision', 'Array of M rows', 'column cell array', 'int32', ...
                'uint8 column', 'Unknown parameter type', 'no output', 'zrbridge:timeout', ...
                'ConnectTimeout', 'Ctrl-C', 'connector(''release'', h)', 'lookupFault', 'delete(p)', ...
                '(parameter 2{3})', 'zeros(3,0)', 'zeros(0,3)', 'Octave cannot save', 'in any case', ...
                'History', 'history(p)', 'zrtrace', 'bounds the look-up'}
    assert(~isempty(strfind(text, phrase{1})), 'help ZRProxy does not mention "%s"', phrase{1});
  end
  % Only what users call is listed; the class's own helpers are not.
  listed = methods(p);
  for name = {'checkedSeconds', 'connect', 'noteFault', 'restore'}
    assert(~any(strcmp(listed, name{1})), 'methods(p) lists the internal %s', name{1});
  end
  for name = {'delete', 'disp', 'lookupFault'}
    assert(any(strcmp(listed, name{1})), 'methods(p) does not list %s', name{1});
  end
  % ArrayResults takes its values in any case, as invoker does.
  n = ZRProxy('Echo', '127.0.0.1', port, 'ArrayResults', 'Numeric');
  zrt_check_equal(n('echo', {[1 2]}), {[1 2]}, 'ArrayResults Numeric');
  n.ArrayResults = 'CELL';
  zrt_check_equal(n('echo', {[1 2]}), {{1; 2}}, 'ArrayResults CELL');
  zrt_check_equal(invoker(n.handle, 'echo', {[1 2]}, struct('ArrayResults', 'NUMERIC')), {[1 2]}, ...
                  'ArrayResults NUMERIC for invoker');
  % A released proxy says so.
  delete(n);
  shown = evalc('disp(n)');
  assert(~isempty(strfind(shown, '(released)')), 'disp of a released proxy shows "%s"', shown);

  % A class reload (clear functions, clear -f) leaves proxies made before
  % it working: calls, failed calls, options set later, a loaded proxy's
  % first look-up. Releasing them still closes their connections.
  live = connector('count');
  kept = ZRProxy('Echo', '127.0.0.1', port);
  unopened = ZRProxy.loadobj(saveobj(kept));
  clear functions;
  zrt_check_equal(kept('echo', {'reloaded'}), {'reloaded'}, 'call after clear functions');
  caught = [];
  try
    kept('nope');
  catch caught
  end
  zrt_check_equal(caught.identifier, 'zrbridge:remoteFault', 'failed call after clear functions');
  zrt_check_equal(kept.LastFault.faultstring, 'Unknown method', 'LastFault after clear functions');
  kept.Timeout = 5;
  zrt_check_equal(kept.Timeout, 5, 'Timeout set after clear functions');
  clear -f;
  zrt_check_equal(unopened('echo', {'loaded'}), {'loaded'}, 'loaded proxy after clear -f');
  zrt_check_equal(connector('count'), live + 2, 'live proxies after clear -f');
  warned = evalc('clear kept unopened');
  zrt_check_equal(warned, '', 'what clearing reloaded proxies printed');
  zrt_check_equal(connector('count'), live, 'live proxies after clearing reloaded ones');
  printf('zrproxy_class: all checks passed\n');
unwind_protect_cleanup
  zrt_broker_stop(broker);
end_unwind_protect
