%------------------------------------------------------------------------------
% File     : group.p
% Problem  : The left identity of a group is a right identity too
% Status   : Theorem
%------------------------------------------------------------------------------
include('Axioms/group.ax').
fof(right_identity, conjecture, ! [X] : mult(X, e) = X).
