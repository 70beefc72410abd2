# Types of the compiled part of trapft; the package's functions check their
# arguments and call these.
from typing import Dict, Optional, Tuple

import numpy as np

__version__: str
fast_evaluation_available: bool
limits: Dict[str, Tuple[float, float]]
messages: Dict[str, str]

def load(path: bytes, double_precision: bool, capacity: int) -> Tuple[np.ndarray, np.ndarray]: ...
def frequencies(start: float, end: float, count: int, part: int, parts: int) -> np.ndarray: ...
def spectrum(
    times: np.ndarray,
    values: np.ndarray,
    start: float,
    end: float,
    count: int,
    tolerance: float,
    jobs: int,
    part: int,
    parts: int,
    frequencies: Optional[np.ndarray],
    weights: Optional[np.ndarray],
) -> Tuple[np.ndarray, np.ndarray, np.ndarray]: ...
