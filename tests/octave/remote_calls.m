% Remote calls: unwrapping of status replies, remote faults as errors,
% several proxies at once, and a broker that goes away mid-session.

% SPDX-License-Identifier: GPL-2.0-or-later
1;
function ok = call_works(handle)
  % Whether the connection still answers: Faulty.stall(0) returns at once,
  % and the other modules answer it with an "Unknown method" fault.
  try
    invoker(handle, 'stall', {0});
    ok = true;
  catch err
    ok = ~isempty(strfind(err.message, 'Unknown method'));
  end
end

broker = zrt_broker_start();
second = [];
unwind_protect
  port = broker.port;
  hEcho = connector('Echo', '127.0.0.1', port);
  hMath = connector('Math', '127.0.0.1', port);
  hFaulty = connector('Faulty', '127.0.0.1', port);
  hAnywhere = connector('Anywhere', '127.0.0.1', port);   % reported at 0.0.0.0

  % A reply Array(Int 1 or Int 0, X, ...) stands for X; nothing else is
  % unwrapped.
  unwrapping = {
    'wrap',  {'x'},                     {'x'}
    'wrap',  {},                        []
    'first', {'x', 'y'},                'x'
    'echo',  {int32(1), 'x'},           'x'
    'echo',  {int8(0), 2.5, 'dropped'}, 2.5
    'echo',  {int32(1), {3, 4}},        {3; 4}
    'echo',  {int32(2), 'x'},           {int32(2); 'x'}
    'echo',  {true, 'x'},               {true; 'x'}
    'echo',  {1, 'x'},                  {1; 'x'}
    'echo',  {'1', 5},                  {'1'; 5}
    'echo',  {int32(1)},                {int32(1)}
  };
  for k = 1:rows(unwrapping)
    if isempty(unwrapping{k, 3})
      clear ans;
      invoker(hEcho, unwrapping{k, 1}, unwrapping{k, 2});
      assert(~exist('ans', 'var'), 'unwrapping case %d gave an output', k);
    else
      zrt_check_equal(invoker(hEcho, unwrapping{k, 1}, unwrapping{k, 2}), unwrapping{k, 3}, ...
                      sprintf('unwrapping case %d', k));
    end
  end

  % Remote faults become errors with the fault's texts; the connection
  % stays usable afterwards.
  faults = {
    hFaulty, 'fail', {'Boom', 'it broke'}, sprintf('\tFaulty::SOAP error:Boom\n\tSOAP detail: it broke')
    hFaulty, 'fail', {},                   sprintf('\tFaulty::SOAP error:Requested failure\n\tSOAP detail: Faulty::fail')
    hEcho,   'nope', {},                   sprintf('\tEcho::SOAP error:Unknown method\n\tSOAP detail: Echo::nope\nmethods of Echo: echo, wrap, first, typeOf, types, sizeOf, delay')
    hMath,   'matmul', {[1 2], [1 2]},     sprintf('\tMath::SOAP error:Bad argument\n\tSOAP detail: Math::matmul: a 1x2 matrix cannot multiply a 1x2 matrix')
  };
  for k = 1:rows(faults)
    zrt_expect_error(@() invoker(faults{k, 1:3}), zrt_fail_message('invoker', faults{k, 4}), ...
                     sprintf('fault case %d', k));
    assert(call_works(faults{k, 1}), 'the connection failed after fault case %d', k);
  end

  % A module that closes the connection in the middle of its reply: an
  % error, and the next call opens a new connection.
  caught = [];
  try
    invoker(hFaulty, 'drop', {});
  catch caught
  end
  assert(~isempty(caught), 'a dropped reply did not fail');
  prefix = zrt_fail_message('invoker', sprintf('\tFaulty::SOAP error:'));
  assert(strncmp(caught.message, prefix, numel(prefix)), 'dropped reply: "%s"', caught.message);
  assert(call_works(hFaulty), 'the connection failed after a dropped reply');

  % Several proxies at once, calls interleaved, each on its own connection.
  proxies = {hEcho, hMath, hAnywhere, connector('Echo', '127.0.0.1', port)};
  for pass = 1:3
    for k = 1:numel(proxies)
      value = sprintf('pass %d proxy %d', pass, k);
      if k == 2
        zrt_check_equal(invoker(hMath, 'sum', {pass, k}), pass + k, value);
      else
        zrt_check_equal(invoker(proxies{k}, 'echo', {value}), {value}, value);
      end
    end
  end

  % A broker that dies mid-session: calls on its proxies fail with an
  % error, Octave goes on, and proxies of another broker keep working.
  second = zrt_broker_start();
  gone = connector('Echo', '127.0.0.1', second.port);
  zrt_check_equal(invoker(gone, 'echo', {'before'}), {'before'}, 'second broker before it dies');
  zrt_broker_stop(second);
  second = [];
  prefix = zrt_fail_message('invoker', sprintf('\tEcho::SOAP error:'));
  for attempt = 1:2
    caught = [];
    try
      invoker(gone, 'echo', {'after'});
    catch caught
    end
    assert(~isempty(caught), 'a call to a dead broker succeeded (attempt %d)', attempt);
    assert(strncmp(caught.message, prefix, numel(prefix)), 'dead broker: "%s"', caught.message);
  end
  zrt_check_equal(invoker(hEcho, 'echo', {'still here'}), {'still here'}, 'first broker after the second died');
  zrt_check_equal(invoker(hMath, 'sum', {1, 2}), 3, 'math after the second broker died');
  printf('remote_calls: all checks passed\n');
unwind_protect_cleanup
  zrt_broker_stop(second);
  zrt_broker_stop(broker);
end_unwind_protect
