function bench_history(port, what)
  % BENCH_HISTORY  What recording exchanges costs, from Octave, against the
  % demo broker on `port`:
  %   bench_history(port, 'small')   ZRProxy calls of echo {1} with History
  %                                  0, History 20, and History 0 with the
  %                                  trace on; rounds alternate, the median
  %                                  round is reported
  %   bench_history(port, 'vector0') one echo of a 1x1000000 double vector,
  %   bench_history(port, 'vector20')  with History 0 or 20: the growth of
  %                                  the peak resident size (run each in an
  %                                  Octave of its own)
  %   Prints "RESULT <name> <value>" lines.

  % SPDX-License-Identifier: GPL-2.0-or-later
  switch what
    case 'small'
      calls = 2000;
      rounds = 5;
      plain = ZRProxy('Echo', '127.0.0.1', port);
      recorded = ZRProxy('Echo', '127.0.0.1', port, 'History', 20);
      traced = ZRProxy('Echo', '127.0.0.1', port);
      traceFile = [tempname() '.trace'];
      proxies = {plain, recorded, traced};
      names = {'history0', 'history20', 'trace'};
      for k = 1:200
        for path = 1:3
          proxies{path}('echo', {1});
        end
      end
      [wall, cpu] = deal(zeros(3, rounds));
      for pass = 1:rounds
        for path = 1:3
          p = proxies{path};
          if path == 3
            zrtrace(traceFile);
          end
          t0 = cputime();
          tic;
          for k = 1:calls
            r = p('echo', {1});
          end
          wall(path, pass) = toc;
          cpu(path, pass) = cputime() - t0;
          if path == 3
            zrtrace('off');
            delete(traceFile);
          end
        end
      end
      for path = 1:3
        printf('RESULT %s_us_per_call %.2f\n', names{path}, median(wall(path, :)) / calls * 1e6);
        printf('RESULT %s_cpu_us_per_call %.2f\n', names{path}, median(cpu(path, :)) / calls * 1e6);
      end
    case {'vector0', 'vector20'}
      p = ZRProxy('Echo', '127.0.0.1', port, 'History', str2double(what(7:end)));
      v = mod(0:999999, 1000) + 0.25;
      p('echo', {1});
      before = peak_kb();
      r = p('echo', {v});
      printf('RESULT peak_growth_kb %d\n', peak_kb() - before);
      clear r;
    otherwise
      error('bench_history: unknown case %s', what);
  end
end

function kb = peak_kb()
  status = fileread('/proc/self/status');
  kb = sscanf(status(strfind(status, 'VmHWM:') + 6:end), '%d', 1);
end
