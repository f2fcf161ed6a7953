function proxyConnect(proxy)
  % Looks the ZRProxy's module up at its broker and keeps the new handle.
  % A function of ZRProxy's private folder rather than a method: see the
  % class's hidden property state.
  limits = struct('Timeout', {proxy.Timeout}, 'ConnectTimeout', {proxy.ConnectTimeout});
  proxy.state.handle = connector(proxy.moduleName, proxy.host, proxy.port, limits);
end
