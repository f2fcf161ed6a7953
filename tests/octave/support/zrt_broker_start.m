function broker = zrt_broker_start(varargin)
  % Starts the demo broker on a free loopback port and returns its pid and
  % port; further arguments go to the broker's command line (a later
  % '--port N' wins). Its pid also goes to $ZRT_PIDFILE, so that the test
  % runner can stop it should Octave itself die before zrt_broker_stop runs.

  % SPDX-License-Identifier: GPL-2.0-or-later
  program = getenv('ZRT_BROKER');
  if isempty(program)
    error('zrt:setup', 'ZRT_BROKER does not name the demo broker');
  end
  portFile = [tempname() '.port'];
  % The shell replaces itself with the broker, so the pid is the broker's;
  % its output goes to a file, where it never blocks the broker. Octave's
  % children inherit its blocked signals: env unblocks SIGTERM, which stops
  % the broker. The broker gets a session of its own, so that a Ctrl-C
  % typed at Octave's terminal reaches Octave only.
  [in, out, pid] = popen2('/bin/sh', {'-c', ['out=$1; shift; ' ...
                                      'exec setsid env --default-signal=TERM,INT "$0" --port 0 "$@" >"$out"'], ...
                                      program, portFile, varargin{:}});
  fclose(in);
  fclose(out);
  if pid <= 0
    error('zrt:setup', 'cannot start %s', program);
  end
  pidFile = getenv('ZRT_PIDFILE');
  if ~isempty(pidFile)
    fid = fopen(pidFile, 'a');
    fprintf(fid, '%d\n', pid);
    fclose(fid);
  end
  broker = struct('pid', pid, 'port', 0, 'portFile', portFile);
  deadline = time() + 10;
  while time() < deadline
    text = '';
    if exist(portFile, 'file')
      text = fileread(portFile);
    end
    % The broker's first line is "port N".
    newline = find(text == "\n", 1);
    if ~isempty(newline)
      found = sscanf(text(1:newline - 1), 'port %d');
      if isscalar(found)
        broker.port = found;
      end
      break;
    end
    if waitpid(pid, WNOHANG()) == pid
      error('zrt:setup', 'the demo broker ended before it reported its port');
    end
    pause(0.02);
  end
  if ~(broker.port > 0)
    zrt_broker_stop(broker);
    error('zrt:setup', 'the demo broker reported no port within 10 s');
  end
end
