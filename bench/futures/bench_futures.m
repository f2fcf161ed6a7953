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

  s = ZRProxy('Echo', '127.0.0.1', port, 'Connections', 8);
  fetchOutputs(s.async('echo', {1}));
  n = 10000;

  % Octave's resident size while 10,000 futures stream through, up to 1,000
  % in flight, each fetched and dropped in the order started: after the
  % first 1,000 and after the last. First, so that memory freed by the
  % rounds below does not hide growth.
  window = 1000;
  ring = cell(1, window);
  for k = 1:n + window
    slot = mod(k - 1, window) + 1;
    if k > window
      r = fetchOutputs(ring{slot});
      assert(isequal(r, {k - window}));
    end
    if k <= n
      ring{slot} = s.async('echo', {k});
    end
    if k == window
      rss1000 = rss_mb();
    end
  end
  result('rss_after_1000_mb', rss1000);
  result('rss_after_10000_mb', rss_mb());

  % 10,000 small echo calls: a synchronous loop, and 10,000 futures in
  % flight on 8 connections, started into an array made beforehand (as one
  % does with futures) and then fetched together; also the same futures
  % kept in a cell array and each fetched on its own. Three rounds of each
  % in turn.
  wall = zeros(3, 3);
  rss = zeros(3, 2);
  for pass = 1:3
    wall(1, pass) = sync_round(p, n);
    tic;
    F(1:n) = ZRFuture;
    for k = 1:1000
      F(k) = s.async('echo', {k});
    end
    rss(pass, 1) = rss_mb();
    for k = 1001:n
      F(k) = s.async('echo', {k});
    end
    rss(pass, 2) = rss_mb();
    R = fetchOutputs(F, 'UniformOutput', false);
    clear F;
    wall(2, pass) = toc;
    assert(isequal(R{n}, {n}));
    tic;
    G = cell(1, n);
    for k = 1:n
      G{k} = s.async('echo', {k});
    end
    for k = 1:n
      r = fetchOutputs(G{k});
    end
    G = {};
    wall(3, pass) = toc;
    assert(isequal(r, {n}));
  end
  result('sync_small10000_s', median(wall(1, :)));
  result('async_small10000_s', median(wall(2, :)));
  result('async_each10000_s', median(wall(3, :)));
  % In the first round nothing freed before makes room for the futures.
  result('held_rss_after_1000_mb', rss(1, 1));
  result('held_rss_after_10000_mb', rss(1, 2));

  % 2,000 finished futures handed out one by one with fetchNext.
  n = 2000;
  F(1:n) = ZRFuture;
  for k = 1:n
    F(k) = s.async('echo', {k});
  end
  wait(F);
  got = zeros(1, n);
  tic;
  for k = 1:n
    [idx, r] = fetchNext(F);
    got(idx) = r{1};
  end
  result('fetchnext_drain2000_s', toc);
  assert(isequal(got, 1:n));
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
