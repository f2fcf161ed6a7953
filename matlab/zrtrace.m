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

  % SPDX-License-Identifier: GPL-2.0-or-later
  if nargin == 0
    varargout = {connector('trace')};
  else
    connector('trace', file);
  end
end

%!error id=zrbridge:badArgument zrtrace (42)

%!test
%! % Every exchange of the session goes to the file while the trace is on.
%! [port, broker] = zrdemobroker ();
%! file = [tempname() '.txt'];
%! unwind_protect
%!   zrtrace (file);
%!   assert (zrtrace (), file);
%!   p = ZRProxy ('Echo', '127.0.0.1', port);
%!   p ('echo', {'traced-text'});
%!   zrtrace ('off');
%!   assert (zrtrace (), '');
%!   text = fileread (file);
%!   assert (! isempty (strfind (text, 'getModuleByName')));
%!   assert (! isempty (strfind (text, 'traced-text')));
%! unwind_protect_cleanup
%!   zrtrace ('off');
%!   if (exist (file, 'file'))
%!     delete (file);
%!   endif
%! end_unwind_protect
