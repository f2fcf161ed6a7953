classdef ZRBrokerProcess < handle
  % ZRBROKERPROCESS  A demo module broker running in a process of its own.
  %
  %   broker = ZRBrokerProcess(program) starts program (a demo broker) on a
  %   free port of 127.0.0.1 and waits until it listens; broker.port is
  %   that port. delete(broker), or clearing the last variable that holds
  %   it, stops the broker and waits until it has gone; delete may be
  %   called more than once. Use zrdemobroker to start the bundled one.
  %
  %   See also ZRDEMOBROKER.

  % SPDX-License-Identifier: GPL-2.0-or-later

  properties (SetAccess = private)
    port = []   % the loopback port the broker listens on
    pid = []    % its process id
  end

  properties (Access = private)
    program = ''  % the program started, to recognise its process
  end

  methods
    function obj = ZRBrokerProcess(program)
      if nargin < 1 || ~ischar(program) || exist(program, 'file') ~= 2
        error('zrbridge:badArgument', 'ZRBrokerProcess: no demo broker program at ''%s''', char(program));
      end
      log = [tempname() '-zrdemobroker.log'];
      % The broker's first line on standard output is "port N"; the shell
      % answers with the broker's process id at once.
      [status, started] = system(sprintf('%s --port 0 </dev/null >%s 2>&1 & echo $!', ...
                                         shellQuoted(program), shellQuoted(log)));
      pid = str2double(strtrim(started));
      if status ~= 0 || isnan(pid)
        error('zrbridge:brokerUnreachable', 'ZRBrokerProcess: could not start %s: %s', program, started);
      end
      obj.pid = pid;
      obj.program = program;
      cleanLog = onCleanup(@() deleteQuietly(log));
      % Never leave a broker behind: not on an error, nor on Ctrl-C, which
      % no catch sees.
      abandon = onCleanup(@() stopUnlessListening(obj));
      obj.port = obj.awaitPort(program, log);
    end

    function delete(obj)
      % Stops the broker (SIGTERM) and waits for it, at most 5 s.
      if isempty(obj.pid)
        return;
      end
      if ~obj.isRunning()
        % Gone already: the process id may name another process by now.
        obj.pid = [];
        return;
      end
      system(sprintf('kill %d 2>/dev/null', obj.pid));
      for attempt = 1:100
        if ~obj.isRunning()
          break;
        end
        pause(0.05);
      end
      obj.pid = [];
    end

    function disp(obj)
      if isempty(obj.pid)
        fprintf('  demo broker (stopped)\n');
      else
        fprintf('  demo broker at 127.0.0.1:%d (process %d)\n', obj.port, obj.pid);
      end
    end
  end

  methods (Access = private)
    function port = awaitPort(obj, program, log)
      for attempt = 1:200
        text = '';
        if exist(log, 'file') == 2
          text = fileread(log);
        end
        found = regexp(text, '^port (\d+)$', 'tokens', 'once', 'lineanchors');
        if ~isempty(found)
          port = str2double(found{1});
          return;
        end
        if ~obj.isRunning()
          error('zrbridge:brokerUnreachable', 'ZRBrokerProcess: %s stopped before it listened: %s', program, text);
        end
        pause(0.05);
      end
      error('zrbridge:brokerUnreachable', 'ZRBrokerProcess: %s reported no port within 10 s', program);
    end

    function yes = isRunning(obj)
      % Our broker's process, still running: one that has ended but is not
      % yet reaped (state Z) is gone.
      [status, state] = system(sprintf('ps -o stat=,args= -p %d', obj.pid));
      state = strtrim(state);
      yes = status == 0 && ~isempty(state) && state(1) ~= 'Z' ...
            && ~isempty(strfind(state, obj.program));
    end
  end
end

function stopUnlessListening(obj)
  if isempty(obj.port)
    delete(obj);
  end
end

function text = shellQuoted(text)
  text = ['''' strrep(text, '''', '''\''''') ''''];
end

function deleteQuietly(file)
  if exist(file, 'file') == 2
    delete(file);
  end
end

%!error id=zrbridge:badArgument ZRBrokerProcess ('/nonexistent/zrdemobroker')
%!error <stopped before it listened> ZRBrokerProcess ('/bin/false')

%!test
%! % The port it reports is the one the broker listens on; once deleted
%! % the process has gone.
%! [port, broker] = zrdemobroker ();
%! assert (isa (broker, 'ZRBrokerProcess') && broker.port == port);
%! p = ZRProxy ('Math', '127.0.0.1', broker.port);
%! assert (p ('sum', {1, 2}), 3);
%! pid = broker.pid;
%! delete (broker);
%! assert (isempty (broker.pid));
%! [~, state] = system (sprintf ('ps -o stat= -p %d', pid));
%! state = strtrim (state);
%! assert (isempty (state) || state(1) == 'Z');
