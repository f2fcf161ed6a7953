function bench_futures(port, what)
  % BENCH_FUTURES  Times calls in the background against the demo broker.
  %   bench_futures(port, 'small')   the small synchronous call only (what a
  %                                  build without futures can run)
  %   bench_futures(port, 'all')     that, the same work one call after
  %                                  another and as futures
  %   Prints "RESULT <name> <value>" lines.

  % SPDX-License-Identifier: GPL-2.0-or-later
  p = ZRProxy('Echo', '127.0.0.1', port);
  for k = 1:200   % warm up
    p('echo', {1});
  end

  % Small synchronous calls, the median of five rounds.
  calls = 2000;
  rounds = 5;
  wall = zeros(2, rounds);
  if strcmp(what, 'small')
    for pass = 1:rounds
      wall(1, pass) = sync_round(p, calls);
    end
    result('sync_small_us', median(wall(1, :)) / calls * 1e6);
    return;
  end

  % 100 calls of a 50 ms method, one after another.
  tic;
  for k = 1:100
    p('delay', {50, k});
  end
  result('sync_delay100_s', toc);

  % 100 futures of the 50 ms method on 32 connections.
  q = ZRProxy('Echo', '127.0.0.1', port, 'Connections', 32);
  fetchOutputs(q.async('echo', {1}));
  tic;
  for k = 1:100
    F(k) = q.async('delay', {50, k});
  end
  wait(F);
  result('async_delay100_s', toc);
  for k = 1:100
    assert(fetchOutputs(F(k)) == k);
  end
  clear F q;

  % The small call synchronously and through a future fetched at once, in
  % alternating rounds, so that load from other processes spreads over both.
  for k = 1:200
    fetchOutputs(p.async('echo', {1}));
  end
  for pass = 1:rounds
    wall(1, pass) = sync_round(p, calls);
    tic;
    for k = 1:calls
      r = fetchOutputs(p.async('echo', {1}));
    end
    wall(2, pass) = toc;
    assert(isequal(r, {1}));
  end
  result('sync_small_us', median(wall(1, :)) / calls * 1e6);
  result('async_small_us', median(wall(2, :)) / calls * 1e6);

  % 10,000 small calls synchronously and 10,000 as futures on 8
  % connections (up to 256 in flight, each fetched and dropped in the order
  % started), in alternating rounds of 2,000; the resident size is read
  % after the first 1,000 futures and after the last.
  s = ZRProxy('Echo', '127.0.0.1', port, 'Connections', 8);
  fetchOutputs(s.async('echo', {1}));
  window = 256;
  ring = cell(1, window);
  started = 0;
  for pass = 1:rounds
    wall(1, pass) = sync_round(p, calls);
    tic;
    for k = 1:calls + window
      slot = mod(k - 1, window) + 1;
      if k > window
        r = fetchOutputs(ring{slot});
        assert(isequal(r, {k - window}));
      end
      if k <= calls
        ring{slot} = s.async('echo', {k});
        started = started + 1;
        if started == 1000
          rss1000 = rss_mb();
        end
      end
    end
    wall(2, pass) = toc;
  end
  result('sync_small10000_s', sum(wall(1, :)));
  result('async_small10000_s', sum(wall(2, :)));
  result('sync_round_calls_per_s', calls / median(wall(1, :)));
  result('async_round_calls_per_s', calls / median(wall(2, :)));
  result('rss_after_1000_mb', rss1000);
  result('rss_after_10000_mb', rss_mb());
end

function seconds = sync_round(p, calls)
  tic;
  for k = 1:calls
    r = p('echo', {k});
  end
  seconds = toc;
  assert(isequal(r, {calls}));
end

function result(name, value)
  printf('RESULT %s %.6g\n', name, value);
end

function mb = rss_mb()
  status = fileread('/proc/self/status');
  kb = sscanf(status(strfind(status, 'VmRSS:') + 6:end), '%f', 1);
  mb = kb / 1024;
end
