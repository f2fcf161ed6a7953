% Sessions that never hang and always clean up: host names, time-outs,
% Ctrl-C, releasing proxies, error identifiers and fault texts,
% reconnection, saved proxies, many proxies at once.

% SPDX-License-Identifier: GPL-2.0-or-later
1;
function [caught, elapsed] = failure_of(call)
  % The error that call (a function handle) raises, and the seconds it took.
  caught = [];
  started = tic();
  try
    call();
  catch caught
  end
  elapsed = toc(started);
  if isempty(caught)
    error('zrt:check', 'the call succeeded, but an error was expected');
  end
end

function expect_identifier(call, identifier, label, limit)
  % call must fail with identifier, and within limit seconds if given.
  [caught, elapsed] = failure_of(call);
  if ~strcmp(caught.identifier, identifier)
    error('zrt:check', '%s: expected %s, got %s ("%s")', label, identifier, caught.identifier, ...
          undo_string_escapes(caught.message));
  end
  if nargin > 3 && elapsed > limit
    error('zrt:check', '%s: took %.2f s, more than %.2f s', label, elapsed, limit);
  end
  printf('  %-44s %-28s %.3f s\n', label, identifier, elapsed);
end

function n = open_descriptors()
  n = numel(readdir('/proc/self/fd')) - 2;
end

function kb = resident_kb()
  status = fileread('/proc/self/status');
  kb = sscanf(status(strfind(status, 'VmRSS:') + 6:end), '%d', 1);
end

function set_property(object, name, value)
  object.(name) = value;
end

function value = call_for_result(port)
  p = ZRProxy('Echo', '127.0.0.1', port);
  value = p('echo');
end

function list = forget(list, broker)
  % Stops `broker` and takes it off the list of brokers to stop at the end.
  zrt_broker_stop(broker);
  list = list(cellfun(@(b) b.pid ~= broker.pid, list));
end

function wrong = foreign_answers(proxy, tag, count)
  % Calls proxy count times with '<tag>-<k>' and counts the answers that are
  % not the caller's own, failures included.
  wrong = 0;
  for k = 1:count
    sent = sprintf('%s-%d', tag, k);
    try
      wrong += ~isequal(proxy('echo', {sent}), {sent});
    catch
      wrong += 1;
    end
  end
end

function interrupt_after(seconds)
  % Sends this process SIGINT, as Ctrl-C does, after `seconds`.
  system(sprintf('(sleep %g; kill -INT %d) >/dev/null 2>&1 &', seconds, getpid()));
end

brokers = {};
unwind_protect
  broker = zrt_broker_start();
  brokers{end + 1} = broker;
  port = broker.port;

  % Host names: texts that name no host are refused before any I/O;
  % 'localhost' and IPv6 literals work.
  for host = {'127.0.0.1 ', ' 127.0.0.1', '127.0.0.1:80', "local\thost", ''}
    expect_identifier(@() connector('Echo', host{1}, port), 'zrbridge:badArgument', ...
                      sprintf('host ''%s''', undo_string_escapes(host{1})), 1);
  end
  local = ZRProxy('Echo', 'localhost', port);
  zrt_check_equal(local('echo', {'via localhost'}), {'via localhost'}, 'localhost');
  mapped = ZRProxy('Echo', '::ffff:127.0.0.1', port);
  zrt_check_equal(mapped('echo', {'mapped'}), {'mapped'}, 'IPv4-mapped IPv6 address');
  six = zrt_broker_start('--bind', '::1');
  brokers{end + 1} = six;
  for host = {'::1', '[::1]'}
    p6 = ZRProxy('Echo', host{1}, six.port);
    zrt_check_equal(p6('echo', {host{1}}), {host{1}}, ['IPv6 host ' host{1}]);
  end
  clear local mapped p6;

  % Time-outs: a silent module, a trickling one, a broker that never
  % answers the look-up. The next call works.
  faulty = ZRProxy('Faulty', '127.0.0.1', port, 'Timeout', 0.5);
  expect_identifier(@() faulty('silent'), 'zrbridge:timeout', 'silent module, Timeout 0.5', 1.5);
  expect_identifier(@() faulty('trickle'), 'zrbridge:timeout', 'trickling module, Timeout 0.5', 1.5);
  [caught, ~] = failure_of(@() faulty('silent'));
  zrt_check_equal(caught.message, zrt_fail_message('invoker', ...
      sprintf('\tFaulty::silent\n\tno complete reply within 0.5 s (Timeout)')), 'time-out text');
  zrt_check_equal(class(faulty('stall', {0})), 'double', 'call after a time-out');
  faulty.Timeout = [];
  zrt_check_equal(faulty('trickle', {0.001}), 'trickled', 'trickle without a limit');
  % Options set as properties after construction govern the next call.
  faulty.Timeout = 0.5;
  expect_identifier(@() faulty('silent'), 'zrbridge:timeout', 'Timeout set as a property', 1.5);
  faulty.Timeout = [];
  later = ZRProxy('Echo', '127.0.0.1', port);
  later.ArrayResults = 'numeric';
  zrt_check_equal(later('echo', {[1 2]}), {[1 2]}, 'ArrayResults set as a property');
  clear later;
  expect_identifier(@() set_property(faulty, 'Timeout', -1), 'zrbridge:badArgument', 'negative Timeout');
  expect_identifier(@() ZRProxy('Echo', '127.0.0.1', port, 'ArrayResults', 'matrix'), ...
                    'zrbridge:badArgument', 'unknown ArrayResults');
  slow = zrt_broker_start('--lookup-delay', '30');
  brokers{end + 1} = slow;
  expect_identifier(@() ZRProxy('Echo', '127.0.0.1', slow.port, 'ConnectTimeout', 1), ...
                    'zrbridge:timeout', 'look-up unanswered, ConnectTimeout 1', 2);
  expect_identifier(@() ZRProxy('Echo', '127.0.0.1', slow.port, 'Timeout', 1), ...
                    'zrbridge:timeout', 'look-up unanswered, Timeout 1', 2);

  % Ctrl-C during a call and during a look-up: an ordinary error within a
  % second, and the session goes on.
  interrupt_after(0.5);
  expect_identifier(@() faulty('silent'), 'zrbridge:interrupted', 'Ctrl-C during a call', 1.5);
  zrt_check_equal(class(faulty('stall', {0})), 'double', 'call after Ctrl-C');
  interrupt_after(0.5);
  expect_identifier(@() ZRProxy('Echo', '127.0.0.1', slow.port), 'zrbridge:interrupted', ...
                    'Ctrl-C during a look-up', 1.5);

  % One identifier per cause, and the fault texts without the message.
  full = zrt_broker_start('--max-connections', '1');
  brokers{end + 1} = full;
  holder = connector('Echo', '127.0.0.1', full.port);
  gone = zrt_broker_start();
  gonePort = gone.port;
  zrt_broker_stop(gone);
  dropped = connector('Echo', '127.0.0.1', port);
  connector('release', dropped);
  cases = {
    @() connector('Echo', '127.0.0.1'),                    'zrbridge:usage'
    @() ZRProxy('Echo', '127.0.0.1'),                      'zrbridge:usage'
    @() connector('Echo', '127.0.0.1', -1),                'zrbridge:badArgument'
    @() connector(['Echo' char(0) 'x'], '127.0.0.1', port), 'zrbridge:badArgument'
    @() faulty(['echo' char(0) 'zz']),                     'zrbridge:badArgument'
    @() ZRProxy('Echo', '127.0.0.1', port, struct('Timeout', 1), 1), 'zrbridge:badArgument'
    @() ZRProxy(struct('host', '127.0.0.1', 'port', port)), 'zrbridge:badArgument'
    @() ZRProxy.loadobj(struct()),                         'zrbridge:badArgument'
    @() faulty('echo', {single(1)}),                       'zrbridge:unsupportedType'
    @() invoker(dropped, 'echo', {}),                      'zrbridge:invalidHandle'
    @() connector('Echo', '127.0.0.1', gonePort),          'zrbridge:brokerUnreachable'
    @() connector('Nope', '127.0.0.1', port),              'zrbridge:unknownModule'
    @() connector('Echo', '127.0.0.1', full.port),         'zrbridge:lookupFailed'
    @() faulty('fail', {'Boom', 'it broke'}),              'zrbridge:remoteFault'
    @() faulty('drop'),                                    'zrbridge:connectionFailed'
    @() faulty('garbage'),                                 'zrbridge:badReply'
    @() disp(call_for_result(port)),                       'zrbridge:noResult'
  };
  for k = 1:rows(cases)
    expect_identifier(cases{k, 1}, cases{k, 2}, sprintf('identifier case %d', k));
  end
  connector('release', holder);
  failure_of(@() faulty('fail', {'Boom', 'it broke'}));
  zrt_check_equal(faulty.LastFault, struct('faultstring', 'Boom', 'detail', 'it broke'), 'LastFault');
  failure_of(@() ZRProxy('Nope', '127.0.0.1', port));
  zrt_check_equal(ZRProxy.lookupFault(), struct('faultstring', 'Unknown module', 'detail', 'Nope'), ...
                  'lookupFault');

  % Releasing: delete closes and frees, may be repeated, and leaves the
  % "Object is NULL !" answer; raw handles are released the same way.
  p = ZRProxy('Echo', '127.0.0.1', port);
  before = connector('count');
  q = p;
  clear p;
  zrt_check_equal(connector('count'), before, 'a copy keeps the proxy');
  delete(q);
  delete(q);
  zrt_check_equal(connector('count'), before - 1, 'delete releases');
  zrt_expect_error(@() q('echo', {1}), zrt_fail_message('invoker', "Object is NULL !\n"), 'deleted proxy');
  h = connector('Echo', '127.0.0.1', port);
  zrt_check_equal(connector('release', h), true, 'raw release');
  zrt_check_equal(connector('release', h), false, 'raw release again');

  % Reconnection: the module restarts on another port and is called again
  % through the same proxy.
  first = zrt_broker_start();
  brokers{end + 1} = first;
  directory = zrt_broker_start('--report-port', sprintf('%d', first.port));
  brokers{end + 1} = directory;
  moved = ZRProxy('Echo', '127.0.0.1', directory.port);
  zrt_check_equal(moved('echo', {'before'}), {'before'}, 'module before it moves');
  brokers = forget(brokers, first);
  second = zrt_broker_start();
  brokers{end + 1} = second;
  brokers = forget(brokers, directory);
  directory = zrt_broker_start('--port', sprintf('%d', directory.port), ...
                               '--report-port', sprintf('%d', second.port));
  brokers{end + 1} = directory;
  zrt_check_equal(moved('echo', {'after'}), {'after'}, 'module after it moved');

  % Saved proxies look their module up again; a handle from elsewhere never
  % reaches another proxy.
  echo = ZRProxy('Echo', '127.0.0.1', port, 'Timeout', 7);
  math = ZRProxy('Math', '127.0.0.1', port);
  saved = saveobj(echo);
  assert(~isfield(saved, 'handle'), 'a saved proxy carries its handle');
  saved.handle = math.handle;   % as if another process had issued it
  loaded = ZRProxy.loadobj(saved);
  zrt_check_equal(loaded.Timeout, 7, 'options survive saving');
  zrt_check_equal(loaded('echo', {'loaded'}), {'loaded'}, 'loaded proxy reaches its own module');
  assert(loaded.handle ~= math.handle && loaded.handle ~= echo.handle, 'loaded proxy reused a handle');
  zrt_check_equal(math('sum', {1, 2}), 3, 'the other proxy is untouched');
  clear echo math loaded;

  % 2,000 proxies made and cleared: descriptors, registry and memory stay
  % where they were.
  for k = 1:50
    c = ZRProxy('Echo', '127.0.0.1', port);
    c('echo', {k});
    clear c;
  end
  fds = open_descriptors();
  live = connector('count');
  rss = resident_kb();
  for k = 1:2000
    c = ZRProxy('Echo', '127.0.0.1', port);
    c('echo', {k});
    clear c;
  end
  printf('  2000 create-and-clear cycles: descriptors %d -> %d, proxies %d -> %d, RSS %d -> %d kB\n', ...
         fds, open_descriptors(), live, connector('count'), rss, resident_kb());
  zrt_check_equal(open_descriptors(), fds, 'descriptors after 2000 cycles');
  zrt_check_equal(connector('count'), live, 'live proxies after 2000 cycles');
  % Under the sanitizer freed memory stays in its quarantine (256 MB), so
  % the resident size says nothing there.
  if isempty(getenv('ZRT_SANITIZED'))
    assert(resident_kb() - rss < 8192, 'RSS grew by %d kB over 2000 cycles', resident_kb() - rss);
  end

  % 1,000 proxies held at once all work, and all go again.
  held = cell(1, 1000);
  for k = 1:numel(held)
    held{k} = ZRProxy('Echo', '127.0.0.1', port);
  end
  for k = 1:numel(held)
    zrt_check_equal(held{k}('echo', {k}), {k}, sprintf('proxy %d of 1000', k));
  end
  printf('  1000 proxies held: %d descriptors open\n', open_descriptors());
  clear held;
  zrt_check_equal(connector('count'), live, 'live proxies after 1000 were cleared');
  zrt_check_equal(open_descriptors(), fds, 'descriptors after 1000 were cleared');
  % After fork, parent and child call one proxy at the same time, and each
  % gets its own answers: the child opens a connection of its own. Both
  % start at one agreed time; the Timeout ends a call whose reply the other
  % process took. The child reports through a file and ends with SIGKILL,
  % so that nothing of this script (its clean-up least of all) runs twice.
  shared = ZRProxy('Echo', '127.0.0.1', port, 'Timeout', 10);
  zrt_check_equal(shared('echo', {'before fork'}), {'before fork'}, 'call before fork');
  report = [tempname() '.wrong'];
  start = time() + 0.5;
  child = fork();
  while time() < start
  end
  if child == 0
    wrong = foreign_answers(shared, 'child', 400);
    fid = fopen(report, 'w');
    fprintf(fid, '%d\n', wrong);
    fclose(fid);
    kill(getpid(), 9);
  end
  wrongInParent = foreign_answers(shared, 'parent', 400);
  waitpid(child);
  wrongInChild = sscanf(fileread(report), '%d');
  delete(report);
  printf('  fork: %d of 400 answers foreign in the parent, %d in the child\n', wrongInParent, wrongInChild);
  zrt_check_equal(wrongInParent, 0, 'foreign answers in the parent after fork');
  zrt_check_equal(wrongInChild, 0, 'foreign answers in the child after fork');
  zrt_check_equal(shared('echo', {'after fork'}), {'after fork'}, 'call after the child ended');

  clear shared;
  printf('sessions: all checks passed\n');
unwind_protect_cleanup
  for k = numel(brokers):-1:1
    zrt_broker_stop(brokers{k});
  end
end_unwind_protect
