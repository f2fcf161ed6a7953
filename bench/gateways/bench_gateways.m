function bench_gateways(port, what)
  % BENCH_GATEWAYS  Times connector/invoker against the demo broker.
  %   bench_gateways(port, 'small')  calls per second of echo {1}, through
  %                                  invoker and through ZRProxy
  %   bench_gateways(port, 'vector') echo of a 1x1000000 double vector
  %   bench_gateways(port, 'matrix') echo of a 1000x1000 double matrix
  %   bench_gateways(port, 'vector_numeric'), (port, 'matrix_numeric')
  %                                  the same with ArrayResults 'numeric'
  %   Prints "RESULT <name> <value>" lines; the peak resident size (VmHWM)
  %   is the process's, so run each large payload in its own Octave.

  % SPDX-License-Identifier: GPL-2.0-or-later
  h = connector('Echo', '127.0.0.1', port);
  result('vmhwm_start_mb', peak_mb());
  switch what
    case 'small'
      % Rounds alternate between the two paths, so that load from other
      % processes spreads over both; the median round is reported.
      calls = 2000;
      rounds = 5;
      p = ZRProxy('Echo', '127.0.0.1', port);
      for k = 1:200   % warm up both paths
        invoker(h, 'echo', {1});
        p('echo', {1});
      end
      [wall, cpu] = deal(zeros(2, rounds));
      for pass = 1:rounds
        t0 = cputime();
        tic;
        for k = 1:calls
          r = invoker(h, 'echo', {1});
        end
        wall(1, pass) = toc;
        cpu(1, pass) = cputime() - t0;
        assert(isequal(r, {1}));
        t0 = cputime();
        tic;
        for k = 1:calls
          r = p('echo', {1});
        end
        wall(2, pass) = toc;
        cpu(2, pass) = cputime() - t0;
        assert(isequal(r, {1}));
      end
      names = {'invoker', 'zrproxy'};
      for path = 1:2
        result([names{path} '_calls_per_s'], calls / median(wall(path, :)));
        result([names{path} '_calls_per_s_best'], calls / min(wall(path, :)));
        result([names{path} '_cpu_us_per_call'], median(cpu(path, :)) / calls * 1e6);
      end
    case {'vector', 'matrix', 'vector_numeric', 'matrix_numeric'}
      v = mod(0:999999, 1000) + 0.25;
      if strncmp(what, 'matrix', 6)
        v = reshape(v, 1000, 1000);
      end
      options = struct();
      if numel(what) > 6
        options.ArrayResults = 'numeric';
      end
      [times, cpu] = deal(zeros(1, 3));
      for k = 1:numel(times)
        t0 = cputime();
        tic;
        r = invoker(h, 'echo', {v}, options);
        times(k) = toc;
        cpu(k) = cputime() - t0;
        if k == 1
          result('vmhwm_after_first_mb', peak_mb());
        end
        check(r{1}, v);
        clear r;
      end
      result('seconds_min', min(times));
      result('seconds_median', median(times));
      result('cpu_seconds_median', median(cpu));
      result('vmhwm_end_mb', peak_mb());
    otherwise
      error('bench_gateways: unknown payload %s', what);
  end
end

function check(echoed, sent)
  % The echo must come back whole: rows of the matrix, or the vector.
  if isnumeric(echoed)
    assert(isequal(echoed, sent));
  elseif rows(sent) == 1
    assert(numel(echoed) == numel(sent) && echoed{end} == sent(end));
  else
    assert(numel(echoed) == rows(sent) && echoed{end}{end} == sent(end, end));
  end
end

function result(name, value)
  printf('RESULT %s %.6g\n', name, value);
end

function mb = peak_mb()
  status = fileread('/proc/self/status');
  kb = sscanf(status(strfind(status, 'VmHWM:') + 6:end), '%f', 1);
  mb = kb / 1024;
end
