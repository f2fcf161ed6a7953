function zrdemo(port)
  % ZRDEMO  A tour of the demo broker's modules, called over SOAP.
  %
  %   zrdemo() starts the demo broker that comes with zrbridge on a free
  %   port of 127.0.0.1 (see zrdemobroker), tours it and stops it again,
  %   also when the tour fails or is interrupted. The tour echoes mixed
  %   values, multiplies matrices remotely, stores and fetches binary data,
  %   and shows how a remote failure arrives.
  %
  %   zrdemo(port) tours a demo broker that already runs at
  %   127.0.0.1:port, for example one started in a shell with
  %     zrdemobroker --port 4500
  %   and then, in MATLAB or Octave:
  %     zrdemo(4500)
  %
  %   See also ZRPROXY, ZRDEMOBROKER.

  % SPDX-License-Identifier: GPL-2.0-or-later
  if nargin < 1
    [port, broker] = zrdemobroker();
    stopBroker = onCleanup(@() delete(broker)); %#ok<NASGU>
    fprintf('zrbridge demo: started the demo broker on port %d\n', port);
  end
  host = '127.0.0.1';
  fprintf('zrbridge demo: calling modules of the broker at %s:%d\n', host, port);

  section('1. Values travel to a module and back');
  echoer = ZRProxy('Echo', host, port);
  disp(echoer);
  sent = {'hello', repmat('long text ', 1, 10), 42, 0.1, int8(-5), ...
          uint32(4294967295), true, [1 2 3], [1 2; 3 4]};
  fprintf('  r = p(''echo'', {...}) sends one argument per cell; the Echo module\n');
  fprintf('  answers with the arguments it received:\n\n');
  got = echoer('echo', sent);
  for k = 1:numel(sent)
    fprintf('  sent %-36s got back %s\n', describe(sent{k}), describe(got{k}));
  end
  fprintf(['\n  Numbers travel as single-precision floats (0.1 -> %.15g),\n' ...
           '  integers as 32-bit Ints (uint32 4294967295 -> -1), matrices as\n' ...
           '  lists of rows; lists come back as column cell arrays.\n'], got{4});

  section('2. A matrix computation on the Math module');
  % 'numeric': a list of equal rows of numbers comes back as a matrix.
  math = ZRProxy('Math', host, port, 'ArrayResults', 'numeric');
  A = [1 2; 3 4];
  B = [5 6; 7 8];
  C = math('matmul', {A, B});
  fprintf('  A = %s, B = %s\n', mat2str(A), mat2str(B));
  fprintf('  with ZRProxy(''Math'', host, port, ''ArrayResults'', ''numeric''):\n');
  fprintf('  math(''matmul'', {A, B}) = %s   (A*B computed here: %s)\n', mat2str(C), mat2str(A * B));
  fprintf('  math(''sum'', {[1 2; 3 4], int8(10)}) = %g\n', math('sum', {[1 2; 3 4], int8(10)}));

  section('3. Binary data, sent as DIME attachments');
  store = ZRProxy('Store', host, port);
  text = 'Hello, binary world!';
  count = store('put', {'greeting', text});
  blob = store('get', {'greeting'});
  fprintf('  store(''put'', {''greeting'', ''%s''}) stored %d bytes\n', text, count);
  fprintf('  store(''get'', {''greeting''}) returned a %dx%d %s array: "%s"\n', ...
          size(blob, 1), size(blob, 2), class(blob), char(blob'));
  % zrbinary sends bytes as a Binary, zero bytes included.
  store('put', {'copy', zrbinary(blob)});
  fprintf('  store(''put'', {''copy'', zrbinary(blob)}) sent the bytes back unchanged: %d\n', ...
          isequal(store('get', {'copy'}), blob));
  bytes = store('make', {1000000});
  fprintf('  store(''make'', {1000000}) returned %d bytes; the first eight are %s\n', ...
          numel(bytes), mat2str(bytes(1:8)'));

  section('4. A remote failure arrives as an error');
  faulty = ZRProxy('Faulty', host, port);
  try
    faulty('fail', {'Disk full', 'no space left on /data'});
  catch err
    fprintf('  faulty(''fail'', ...) raised %s with this text:\n%s\n', err.identifier, indent(err.message));
  end
  try
    echoer('noSuchMethod');
  catch err
    fprintf('  echoer(''noSuchMethod'') raised this error:\n%s\n', indent(err.message));
  end
  fprintf('\nDone: every proxy above still works; each closes its connection when cleared.\n');
end

function section(title)
  fprintf('\n%s\n%s\n', title, repmat('-', 1, numel(title)));
end

% Tabs and line feeds as characters: MATLAB's "\t" is not a tab.
function text = indent(message)
  lineFeed = char(10);
  text = ['    | ' strrep(strrep(message, char(9), '  '), lineFeed, [lineFeed '    | '])];
end

% A short readable form of a value: class, size and content.
function text = describe(value)
  if ischar(value)
    if numel(value) > 24
      text = sprintf('''%s...'' (%d chars)', value(1:16), numel(value));
    else
      text = sprintf('''%s''', value);
    end
  elseif iscell(value)
    parts = cellfun(@describe, value(:)', 'UniformOutput', false);
    text = ['{' strjoin(parts, '; ') '}'];
  elseif isscalar(value)
    text = sprintf('%s %s', class(value), num2str(value, 15));
  else
    text = sprintf('%s %s', class(value), mat2str(value));
  end
end

%!test
%! % zrdemo() starts the bundled broker, tours it, and stops it again.
%! output = evalc ('zrdemo ()');
%! assert (! isempty (strfind (output, 'Done:')));
%! assert (! isempty (strfind (output, '[19 22;43 50]')));
%! port = str2double (regexp (output, 'started the demo broker on port (\d+)', 'tokens', 'once'){1});
%! try
%!   ZRProxy ('Echo', '127.0.0.1', port, 'ConnectTimeout', 5);
%!   error ('the demo broker still runs');
%! catch err
%!   assert (err.identifier, 'zrbridge:brokerUnreachable');
%! end_try_catch

%!test
%! % zrdemo(port) tours a broker that already runs and leaves it running.
%! [port, broker] = zrdemobroker ();
%! output = evalc (sprintf ('zrdemo (%d)', port));
%! assert (! isempty (strfind (output, 'Done:')));
%! p = ZRProxy ('Echo', '127.0.0.1', port);
%! assert (p ('echo', {'still there'}), {'still there'});
