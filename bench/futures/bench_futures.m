function bench_futures(port, what)
  % BENCH_FUTURES  Times calls in the background against the demo broker.
  %   bench_futures(port, 'small')   the small synchronous call only (what a
  %                                  build without futures can run)
  %   bench_futures(port, 'all')     that, the same work one call after
  %                                  another and as futures
  %   Prints "RESULT <name> <value>" lines.
  p = ZRProxy('Echo', '127.0.0.1', port);
  for k = 1:200   % warm up
    p('echo', {1});
  end

  % Small synchronous calls, the median of five rounds.
  calls = 2000;
  rounds = 5;
  wall = zeros(1, rounds);
  for pass = 1:rounds
    tic;
    for k = 1:calls
      r = p('echo', {1});
    end
    wall(pass) = toc;
  end
  assert(isequal(r, {1}));
  result('sync_small_us', median(wall) / calls * 1e6);
  if strcmp(what, 'small')
    return;
  end

  % 100 calls of a 50 ms method, one after another.
  tic;
  for k = 1:100
    p('delay', {50, k});
  end
  result('sync_delay100_s', toc);

  % 10,000 small calls in a loop.
  tic;
  for k = 1:10000
    r = p('echo', {k});
  end
  result('sync_small10000_s', toc);

  % The same small call through a future, fetched at once.
  for k = 1:200
    fetchOutputs(p.async('echo', {1}));
  end
  for pass = 1:rounds
    tic;
    for k = 1:calls
      r = fetchOutputs(p.async('echo', {1}));
    end
    wall(pass) = toc;
  end
  assert(isequal(r, {1}));
  result('async_small_us', median(wall) / calls * 1e6);

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

  % 10,000 small futures on 8 connections: up to 256 in flight, each
  % fetched and dropped in the order started; the resident size is read
  % after the first 1,000 and at the end.
  s = ZRProxy('Echo', '127.0.0.1', port, 'Connections', 8);
  fetchOutputs(s.async('echo', {1}));
  window = 256;
  ring = cell(1, window);
  tic;
  for k = 1:10000 + window
    slot = mod(k - 1, window) + 1;
    if k > window
      r = fetchOutputs(ring{slot});
      assert(isequal(r, {k - window}));
    end
    if k <= 10000
      ring{slot} = s.async('echo', {k});
    end
    if k == 1000
      rss1000 = rss_mb();
    end
  end
  elapsed = toc;
  result('async_small10000_s', elapsed);
  result('rss_after_1000_mb', rss1000);
  result('rss_after_10000_mb', rss_mb());
end

function result(name, value)
  printf('RESULT %s %.6g\n', name, value);
end

function mb = rss_mb()
  status = fileread('/proc/self/status');
  kb = sscanf(status(strfind(status, 'VmRSS:') + 6:end), '%f', 1);
  mb = kb / 1024;
end
