function proxyConnect(proxy)
  % Looks the ZRProxy's module up at its broker and keeps the new handle.
  % A function of ZRProxy's private folder rather than a method: see the
  % class's hidden property state.
  proxy.state.handle = connector(proxy.moduleName, proxy.host, proxy.port, proxy.state.options);
end
