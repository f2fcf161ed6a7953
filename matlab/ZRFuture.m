classdef ZRFuture < handle
  % ZRFuture  A call of a module method that runs in the background.
  %
  %   f = p.async('method', {arg1, ...}) (p a ZRProxy) converts the
  %   arguments at once (an argument that cannot travel fails right there),
  %   starts the call and returns without waiting for the network. The call
  %   runs on one of the proxy's connections (p.Connections, default 4);
  %   calls beyond that wait in the order they were started. The
  %   synchronous p('method', ...) keeps working meanwhile. F(k) =
  %   p.async(...) builds an array of futures (Octave 7 cannot concatenate
  %   them with [f1 f2]); F(1:n) = ZRFuture first spares Octave regrowing
  %   it for each one.
  %
  %   r = fetchOutputs(f)    the result, waiting if needed: the value the
  %                          synchronous call gives (ArrayResults, Binary and
  %                          unwrapping apply), or its error with the same
  %                          identifier and text. May be asked again.
  %   R = fetchOutputs(F)    for an array, waits for every future and joins
  %                          the results along the first dimension (vertcat),
  %                          in the order of F; the first failed call's error
  %                          (in that order) is raised instead
  %   C = fetchOutputs(F, 'UniformOutput', false)
  %                          the same results in a numel(F)x1 cell array
  %   tf = wait(F)           blocks until every future in F has finished
  %   tf = wait(F, 'finished', seconds)
  %                          the same for at most seconds: false when the
  %                          time ran out (the futures go on)
  %   [idx, r] = fetchNext(F[, seconds])
  %                          the index into F of a finished future that
  %                          fetchNext has not handed out yet, and its result
  %                          (a failed one raises its error); idx is empty
  %                          when the time ran out or none is left. Each
  %                          call looks at all of F: for thousands of
  %                          futures, fetchOutputs(F) is quicker.
  %   cancel(F)              ends queued and running calls (a running one's
  %                          connection is closed at once); their Error
  %                          becomes zrbridge:cancelled. Finished ones stay.
  %
  %   Properties:
  %     State   'queued', 'running' or 'finished'
  %     Error   [] or an MException (in Octave a struct) with identifier
  %             and message
  %             (zrbridge:timeout, zrbridge:remoteFault, ...,
  %             zrbridge:cancelled)
  %     Method  the method called
  %
  %   Each call obeys the proxy's Timeout, counted from p.async, queueing
  %   included. Ctrl-C during wait, fetchOutputs or fetchNext ends that wait
  %   with zrbridge:interrupted and leaves the futures running. Deleting or
  %   clearing the proxy cancels its futures that have not finished; a
  %   finished future keeps its result. Clearing a future frees what it
  %   held (and cancels it when it was still going).
  %
  %   Example:
  %     p = ZRProxy('Echo', '127.0.0.1', 5000, 'Connections', 8);
  %     for k = 1:10
  %       F(k) = p.async('delay', {100, k});  % 100 ms each, side by side
  %     end
  %     wait(F);
  %     r = fetchOutputs(F(3))                % int32(3)
  %
  %   See also ZRPROXY, INVOKER.

  % SPDX-License-Identifier: GPL-2.0-or-later

  % What a future shows asks invoker, which holds the call: a future is
  % made and dropped for every background call, so it holds as little as
  % it can (no constructor: ZRProxy sets the key).
  properties (Dependent, SetAccess = private)
    State         % 'queued', 'running' or 'finished'
    Error         % [] or an MException/struct (identifier, message)
    Method        % the method called
  end

  % Public but hidden, and no method is private: once the class is
  % reloaded (clear functions), Octave refuses the class's own code access
  % to private members of futures made before.
  properties (Hidden, Transient)
    key = uint32([])   % invoker's key of the call; empty in ZRFuture()
  end

  methods
    function s = get.State(f)
      s = invoker('state', f);
    end

    function e = get.Error(f)
      e = invoker('error', f);
      % Octave has no MException class; there it stays a struct with the
      % same two fields.
      if ~isempty(e) && ~exist('OCTAVE_VERSION', 'builtin')
        e = MException(e.identifier, '%s', e.message);
      end
    end

    function tf = wait(F, state, seconds)
      if nargin >= 2 && ~strcmp(state, 'finished')
        error('zrbridge:badArgument', 'Only the state ''finished'' can be waited for');
      end
      if nargin < 3
        seconds = [];
      end
      tf = invoker('wait', F, seconds);
    end

    function m = get.Method(f)
      m = invoker('method', f);
    end

    function varargout = fetchOutputs(F, varargin)
      % invoker leaves its output unset for a result without a MATLAB form;
      % it joins the results of an array, as it does with 'UniformOutput'.
      invoker('fetch', F, varargin{:});
      if exist('ans', 'var') ~= 1
        if nargout > 0
          error('zrbridge:noResult', 'The method ''%s'' returned no value', F.Method);
        end
        varargout = {};
        return;
      end
      varargout = {ans};
    end

    function [idx, varargout] = fetchNext(F, seconds)
      if nargin < 2
        seconds = [];
      end
      % invoker remembers which futures it handed out, and reads F's keys
      % itself: a property read of an array element costs Octave as much
      % as a statement.
      varargout = cell(1, max(nargout - 1, 0));
      idx = invoker('next', F, seconds);
      if ~isempty(idx)
        [varargout{:}] = fetchOutputs(F(idx));
      end
    end

    function cancel(F)
      invoker('cancel', F);
    end

    function delete(f)
      % A future without a key releases nothing.
      try
        invoker('release', f);
      catch
      end
    end

    function disp(f)
      if numel(f) ~= 1
        fprintf('  %dx%d ZRFuture array\n', size(f, 1), size(f, 2));
        return;
      end
      fprintf('  ZRFuture for method ''%s'' (%s)\n', f.Method, f.State);
    end
  end
end

%!error id=zrbridge:invalidHandle wait (ZRFuture ())

%!shared port, broker
%! [port, broker] = zrdemobroker ();

%!test
%! % Slow calls run side by side; each result is what the call gives.
%! p = ZRProxy ('Echo', '127.0.0.1', port, 'Connections', 4);
%! for k = 1:4
%!   F(k) = p.async ('delay', {300, k});
%! endfor
%! started = tic ();
%! assert (wait (F, 'finished', 30));
%! assert (toc (started) < 1.2);
%! assert ({F.State}, {'finished', 'finished', 'finished', 'finished'});
%! assert (fetchOutputs (F(3)), 3);
%! assert (fetchOutputs (F), (1:4)');
%! [idx, r] = fetchNext (F);
%! assert (r, idx);

%!test
%! % A failed call keeps its error; a cancelled one says so.
%! p = ZRProxy ('Echo', '127.0.0.1', port);
%! f = p.async ('nope');
%! wait (f);
%! assert (f.Error.identifier, 'zrbridge:remoteFault');
%! g = p.async ('delay', {10000});
%! cancel (g);
%! assert (g.State, 'finished');
%! assert (g.Error.identifier, 'zrbridge:cancelled');
