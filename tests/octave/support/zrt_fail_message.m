function message = zrt_fail_message(gateway, text)
  % The message Octave shows for mexErrMsgTxt(text) in a MEX module: the
  % module's name in front, one trailing line feed dropped.

  % SPDX-License-Identifier: GPL-2.0-or-later
  if ~isempty(text) && text(end) == "\n"
    text = text(1:end - 1);
  end
  message = [gateway ': ' text];
end
