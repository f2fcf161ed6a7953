% What went over the wire: a proxy's history, the session's trace, and
% look-up failures that say why.

% SPDX-License-Identifier: GPL-2.0-or-later
1;
function text = file_text(name)
  fid = fopen(name, 'r');
  text = fread(fid, Inf, 'char=>char')';
  fclose(fid);
end

function expect_text(text, part, label)
  if isempty(strfind(text, part))
    error('zrt:check', '%s: "%s" not found in\n%s', label, part, text);
  end
end

function set_history(p, value)
  p.History = value;
end

broker = zrt_broker_start();
traceFile = [tempname() '.trace'];
envFile = [tempname() '.trace'];
unwind_protect
  port = broker.port;

  % The look-up that made the proxy, calls and failed calls, oldest first;
  % only the last History of them.
  p = ZRProxy('Echo', '127.0.0.1', port, 'History', 3);
  p('echo', {'hello'});
  try
    p('nope', {});
  catch
  end
  h = history(p);
  zrt_check_equal(fieldnames(h)', {'Method', 'Started', 'Seconds', 'Request', 'Reply', 'Outcome'}, ...
                  'history fields');
  zrt_check_equal({h.Method}, {'getModuleByName', 'echo', 'nope'}, 'history methods');
  zrt_check_equal({h.Outcome}, {'', '', 'zrbridge:remoteFault'}, 'history outcomes');
  assert(strncmp(h(2).Request, 'POST / HTTP/1.1', 15), 'request starts with the request line');
  expect_text(h(2).Request, '<zrbroker:meth>echo</zrbroker:meth>', 'request');
  assert(strncmp(h(2).Reply, 'HTTP/1.1 200 OK', 15), 'reply starts with the status line');
  expect_text(h(2).Reply, 'hello', 'reply');
  expect_text(h(3).Reply, 'Unknown method', 'failed call');
  assert(abs(h(1).Started - time()) < 60 && h(1).Seconds >= 0 && h(1).Seconds < 60, 'times');
  p('echo', {1});
  h = history(p);
  zrt_check_equal({h.Method}, {'echo', 'nope', 'echo'}, 'the last three');
  p.History = 0;
  zrt_check_equal(size(history(p)), [0 1], 'History 0 keeps nothing');

  % Set later; a large text is cut at 64 KB, attachments are listed.
  q = ZRProxy('Echo', '127.0.0.1', port);
  q('echo', {1});
  zrt_check_equal(size(history(q)), [0 1], 'no history by default');
  q.History = 1;
  q('echo', {repmat('x', 1, 200000)});
  h = history(q);
  assert(numel(h.Request) < 66000 && numel(h.Reply) < 66000, 'texts are cut');
  assert(~isempty(regexp(h.Request, '\n\[\.\.\. \d+ bytes left out\]$', 'once')), 'left-out marker');
  q('echo', {zrbinary(uint8(1:100))});
  h = history(q);
  expect_text(h.Request, ' 100 bytes]', 'attachment sent');
  expect_text(h.Reply, ' 100 bytes]', 'attachment received');
  for bad = {-1, 1.5, 'a', [1 2]}
    caught = [];
    try
      set_history(q, bad{1});
    catch caught
    end
    assert(~isempty(caught) && strcmp(caught.identifier, 'zrbridge:badArgument'), 'History refused');
  end

  % A failed look-up keeps its exchange for connector('history').
  try
    connector('Nope', '127.0.0.1', port, struct('History', 2));
  catch
  end
  h = connector('history');
  zrt_check_equal({h.Method; h.Outcome}, {'getModuleByName'; 'zrbridge:unknownModule'}, 'failed look-up');

  % Look-up failures: the first lines as always, then the cause.
  gone = zrt_broker_start();
  gonePort = gone.port;
  zrt_broker_stop(gone);
  first = @(name, p) sprintf('\tZRNetwork::getModuleByName\n\tfailed to get module %s http://127.0.0.1:%d', ...
                             name, p);
  zrt_expect_error(@() connector('Echo', '127.0.0.1', gonePort), zrt_fail_message('connector', ...
      [first('Echo', gonePort) sprintf('\n\tconnection refused at 127.0.0.1:%d: is a broker listening there?', ...
                                       gonePort)]), 'nothing listening');
  zrt_expect_error(@() ZRProxy('Nope', '127.0.0.1', port), zrt_fail_message('connector', ...
      [first('Nope', port) sprintf('\n\tthe broker answered with a fault: Unknown module')]), 'unknown module');

  % The trace: off by default, every exchange while on, nothing after.
  zrt_check_equal(zrtrace(), '', 'trace off by default');
  zrtrace(traceFile);
  zrt_check_equal(zrtrace(), traceFile, 'trace file in use');
  t = ZRProxy('Echo', '127.0.0.1', port);
  t('echo', {'traced'});
  zrtrace('off');
  t('echo', {'untraced'});
  zrt_check_equal(zrtrace(), '', 'trace off again');
  text = file_text(traceFile);
  expect_text(text, sprintf(' UTC  peer 127.0.0.1:%d  module Echo  method getModuleByName  ', port), 'trace');
  expect_text(text, ' s  ok', 'trace outcome');
  expect_text(text, 'traced', 'trace');
  assert(isempty(strfind(text, 'untraced')), 'traced after zrtrace(''off'')');

  % ZRBRIDGE_TRACE traces a session from its start.
  command = sprintf(['ZRBRIDGE_TRACE=%s %s --no-gui --norc --quiet --no-history --path %s --path %s ' ...
                     '--eval "disp(zrtrace()); p = ZRProxy(''Echo'', ''127.0.0.1'', %d); p(''echo'', {1});" ' ...
                     '</dev/null'], envFile, fullfile(OCTAVE_HOME(), 'bin', 'octave-cli'), ...
                    fileparts(which('connector')), fileparts(which('ZRProxy')), port);
  [status, out] = system(command);
  zrt_check_equal(status, 0, 'session with ZRBRIDGE_TRACE');
  zrt_check_equal(strtrim(out), envFile, 'zrtrace() in that session');
  text = file_text(envFile);
  expect_text(text, 'method getModuleByName', 'environment trace');
  expect_text(text, 'method echo', 'environment trace');
  printf('exchange_records: all checks passed\n');
unwind_protect_cleanup
  zrtrace('off');
  for f = {traceFile, envFile}
    if exist(f{1}, 'file')
      delete(f{1});
    end
  end
  zrt_broker_stop(broker);
end_unwind_protect
