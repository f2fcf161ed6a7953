% Calls in the background through ZRProxy.async and ZRFuture: results and
% errors as the synchronous call gives them, arrays of futures, wait,
% fetchNext, cancel, the proxy going first, the raw invoker commands, and
% `clear all` with futures in flight (the script's clean exit is the check).

% SPDX-License-Identifier: GPL-2.0-or-later
broker = zrt_broker_start();
unwind_protect
  port = broker.port;
  p = ZRProxy('Echo', '127.0.0.1', port);
  zrt_check_equal(p.Connections, 4, 'default Connections');

  % Same value, same error as the synchronous call; fetchOutputs repeats.
  f = p.async('echo', {1, 'a', int8(2)});
  zrt_check_equal(class(f), 'ZRFuture', 'class of a future');
  zrt_check_equal(fetchOutputs(f), p('echo', {1, 'a', int8(2)}), 'fetchOutputs gives the result');
  zrt_check_equal(fetchOutputs(f), p('echo', {1, 'a', int8(2)}), 'fetchOutputs again');
  zrt_check_equal(f.State, 'finished', 'State after fetch');
  zrt_check_equal(f.Method, 'echo', 'Method of a future');
  assert(isempty(f.Error), 'Error of a successful call is not empty');
  zrt_check_equal(fetchOutputs(p.async('wrap', {'x'})), {'x'}, 'unwrapped reply');
  q = ZRProxy('Echo', '127.0.0.1', port, 'ArrayResults', 'numeric');
  zrt_check_equal(fetchOutputs(q.async('echo', {[1 2], [3 4]})), [1 2; 3 4], 'ArrayResults applies');
  remote = zrt_fail_message('invoker', sprintf('\tEcho::SOAP error:Unknown method\n\tSOAP detail: Echo::nope\nmethods of Echo: echo, wrap, first, typeOf, types, sizeOf, delay'));
  g = p.async('nope', {});
  for k = 1:2
    zrt_expect_error(@() fetchOutputs(g), remote, 'remote fault through fetchOutputs');
  end
  try
    fetchOutputs(g);
  catch err
    zrt_check_equal(err.identifier, 'zrbridge:remoteFault', 'identifier of a failed future');
  end
  zrt_check_equal(g.Error.identifier, 'zrbridge:remoteFault', 'Error.identifier');
  zrt_check_equal(g.Error.message, sprintf('\tEcho::SOAP error:Unknown method\n\tSOAP detail: Echo::nope\nmethods of Echo: echo, wrap, first, typeOf, types, sizeOf, delay'), ...
                  'Error.message');
  % A parameter that cannot travel fails at once, as the synchronous call does.
  zrt_expect_error(@() p.async('echo', {single(1)}), zrt_fail_message('invoker', "Unknown parameter type: single (parameter 1)\n"), ...
                   'refused parameter');

  % Arrays: side by side, wait, fetchNext hands each out once.
  p.Connections = 8;
  for k = 1:8
    F(k) = p.async('delay', {200, k});
  end
  for tries = 1:500
    if ~strcmp(F(1).State, 'queued')
      break;
    end
    pause(0.01);
  end
  zrt_check_equal(F(1).State, 'running', 'a call on a free connection is running');
  assert(~wait(F, 'finished', 0.01), 'wait with a short limit says finished');
  assert(wait(F), 'wait(F)');
  seen = [];
  for k = 1:8
    [idx, r] = fetchNext(F);
    zrt_check_equal(r, idx, 'fetchNext result belongs to its index');
    seen(end + 1) = idx;
  end
  zrt_check_equal(sort(seen), 1:8, 'fetchNext hands out each future once');
  [idx, r] = fetchNext(F, 0.1);
  assert(isempty(idx) && isempty(r), 'fetchNext after all were handed out');
  % fetchOutputs of an array: joined in F's order, or in a cell array.
  zrt_check_equal(fetchOutputs(F), (1:8)', 'fetchOutputs of an array');
  zrt_check_equal(fetchOutputs(F, 'UniformOutput', false), num2cell((1:8)'), 'UniformOutput false');
  zrt_check_equal(fetchOutputs(F(2), 'uniformoutput', 0), {2}, 'UniformOutput false, one future');
  clear G;
  G(1) = q.async('first', {[1 2]});
  G(2) = q.async('first', {[1 2 3]});
  G(3) = p.async('nope');
  G(4) = p.async('wrap');
  cases = {
    G(1:2), 'zrbridge:badArgument', 'The results cannot be concatenated; fetchOutputs(F, ''UniformOutput'', false) gives them in a cell array'
    G([1 3 4]), 'zrbridge:remoteFault', sprintf('\tEcho::SOAP error:Unknown method\n\tSOAP detail: Echo::nope\nmethods of Echo: echo, wrap, first, typeOf, types, sizeOf, delay')
    G([1 4 3]), 'zrbridge:noResult', 'The method ''wrap'' returned no value'
  };
  for k = 1:size(cases, 1)
    try
      fetchOutputs(cases{k, 1});
      error('test:noError', 'fetchOutputs of array %d did not fail', k);
    catch err
      zrt_check_equal({err.identifier, err.message}, {cases{k, 2}, zrt_fail_message('invoker', cases{k, 3})}, ...
                      sprintf('failed array fetch %d', k));
    end
  end
  zrt_check_equal(fetchOutputs(G(1:2), 'UniformOutput', false), {[1 2]; [1 2 3]}, 'uneven results in a cell array');

  % Cancel: queued and running ones end with zrbridge:cancelled, finished stay.
  p.Connections = 1;
  clear F;
  F(1) = p.async('echo', {'done'});
  wait(F(1));
  F(2) = p.async('delay', {20000, 2});
  F(3) = p.async('delay', {20000, 3});
  zrt_check_equal(F(3).State, 'queued', 'a call beyond Connections is queued');
  cancel(F);
  zrt_check_equal(fetchOutputs(F(1)), {'done'}, 'cancel leaves a finished future');
  for k = 2:3
    zrt_check_equal(F(k).State, 'finished', 'State after cancel');
    zrt_check_equal(F(k).Error.identifier, 'zrbridge:cancelled', 'Error after cancel');
  end
  tic;
  zrt_check_equal(p('echo', {'sync'}), {'sync'}, 'synchronous call after cancel');

  % Timeout counts for each future; the synchronous call works meanwhile.
  t = ZRProxy('Faulty', '127.0.0.1', port, 'Timeout', 0.3);
  h = t.async('silent');
  zrt_check_equal(p('echo', {'meanwhile'}), {'meanwhile'}, 'synchronous call while a future runs');
  wait(h);
  zrt_check_equal(h.Error.identifier, 'zrbridge:timeout', 'Timeout of a future');

  % The proxy going first: unfinished futures are cancelled, finished keep.
  r = ZRProxy('Echo', '127.0.0.1', port);
  kept = r.async('echo', {'kept'});
  wait(kept);
  lost = r.async('delay', {20000, 1});
  delete(r);
  zrt_check_equal(lost.Error.identifier, 'zrbridge:cancelled', 'deleted proxy cancels');
  zrt_check_equal(fetchOutputs(kept), {'kept'}, 'finished future outlives its proxy');

  % Raw commands: keys, and dropping a future frees it.
  before = invoker('count');
  key = invoker('async', p.handle, 'echo', {5}, struct());
  zrt_check_equal(class(key), 'uint32', 'raw async returns a key');
  zrt_check_equal(invoker('fetch', key), {5}, 'raw fetch');
  none = invoker('async', p.handle, 'sizeOf', struct('Timeout', 5));
  zrt_check_equal(invoker('fetch', [key none]), {5; int32(0)}, 'raw async without parameters, raw fetch of two');
  zrt_check_equal(sort([invoker('next', [key none]), invoker('next', [key none])]), [1 2], ...
                  'raw next hands each call out once');
  zrt_check_equal(invoker('next', [key none], 60), [], 'raw next with none left answers at once');
  invoker('release', none);
  zrt_check_equal(invoker('state', f), 'finished', 'raw commands take the future itself');
  zrt_check_equal(invoker('count'), before + 1, 'count with one more future');
  invoker('release', key);
  zrt_check_equal(invoker('count'), before, 'release frees the future');
  zrt_expect_error(@() invoker('fetch', key), zrt_fail_message('invoker', 'No such future'), 'released key');
  x = p.async('delay', {20000, 1});
  zrt_check_equal(invoker('count'), before + 1, 'count with an unread future');
  clear x;
  zrt_check_equal(invoker('count'), before, 'a cleared future is freed');

  % clear mex with a future in flight keeps the module and the future.
  k = p.async('delay', {300, 'kept over clear mex'});
  clear mex
  zrt_check_equal(fetchOutputs(k), 'kept over clear mex', 'future over clear mex');
  clear k

  % clear all with futures in flight: no crash, Octave goes on and exits.
  p.Connections = 4;
  for k = 1:6
    G(k) = p.async('delay', {20000, k});
  end
  % clear all takes the broker's record too: it waits in a file.
  save('-binary', [getenv('ZRT_PIDFILE') '.futures'], 'broker');
  clear all
  clear mex
  load([getenv('ZRT_PIDFILE') '.futures']);
  delete([getenv('ZRT_PIDFILE') '.futures']);
  p = ZRProxy('Echo', '127.0.0.1', broker.port);
  zrt_check_equal(fetchOutputs(p.async('echo', {'after clear'})), {'after clear'}, 'futures after clear all');
  for k = 1:3
    H(k) = p.async('delay', {20000, k});
  end
unwind_protect_cleanup
  zrt_broker_stop(broker);
end_unwind_protect
% H still runs here: the exit must be clean.
