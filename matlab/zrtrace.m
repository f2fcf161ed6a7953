function varargout = zrtrace(file)
  % ZRTRACE  Write every exchange of every proxy in this session to a file.
  %
  %   zrtrace(file) appends every exchange from now on, look-ups included,
  %   to file: one record per exchange with a time stamp (UTC), the peer's
  %   host:port, the module, the method, the seconds it took and its
  %   outcome ('ok' or the error identifier), then the HTTP request as sent
  %   and the reply as received (header and SOAP text; attachments listed
  %   by id, type and size, never their bytes; each text cut at 64 KB with
  %   a line saying how many bytes were left out).
  %   zrtrace('off') stops; zrtrace() returns the file in use, or '' when
  %   tracing is off.
  %
  %   Tracing is off by default. ZRBRIDGE_TRACE=file in the environment
  %   turns it on from the start of the session (and for C++ programs
  %   using libzrcore).
  %
  %   See also ZRProxy (its History option keeps the last exchanges of one
  %   proxy: history(p)).
  if nargin == 0
    varargout = {connector('trace')};
  else
    connector('trace', file);
  end
end
