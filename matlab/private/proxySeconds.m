function value = proxySeconds(value, name)
  % A time limit of ZRProxy as invoker and connector take it: [] for none
  % ([] or Inf given), else a positive double; zrbridge:badArgument for
  % anything else.
  if isempty(value) || (isnumeric(value) && isscalar(value) && isreal(value) && value > 0)
    if isempty(value) || isinf(value)
      value = [];
    else
      value = double(value);
    end
    return;
  end
  error('zrbridge:badArgument', '%s must be a positive number of seconds, or [] or Inf for no limit', name);
end
