"""scikit-learn estimators (imports scikit-learn, only here): a fuzzy
system as a step of a Pipeline or a ColumnTransformer, and a regressor that
fits a first-order Sugeno system to data.

    from sklearn.pipeline import make_pipeline
    from sklearn.linear_model import LinearRegression
    model = make_pipeline(FuzzyTransformer(dimmer), LinearRegression())
    model = FuzzyRegressor(terms=3).fit(X, y); model.predict(X_new)
"""
import numpy as np
from sklearn.base import BaseEstimator, RegressorMixin, TransformerMixin
from sklearn.utils import column_or_1d
from sklearn.utils.validation import check_is_fitted


class FuzzyTransformer(TransformerMixin, BaseEstimator):
    """The system's crisp outputs as features: one column per output.

    Parameters:
        system: a fazolt.System; nothing is learnt from the data.
        on_out_of_range, on_no_rule_fired, on_empty_set, on_nan_input,
        on_non_finite_output, threads: as System.evaluate.

    Example:
        >>> from sklearn.compose import ColumnTransformer
        >>> features = ColumnTransformer([("lamp", FuzzyTransformer(dimmer), ["daylight", "motion"])])
        >>> features.fit_transform(frame)
    """

    def __init__(self, system, on_out_of_range="warning", on_no_rule_fired="warning", on_empty_set="warning",
                 on_nan_input="warning", on_non_finite_output="warning", threads=1):
        self.system = system
        self.on_out_of_range = on_out_of_range
        self.on_no_rule_fired = on_no_rule_fired
        self.on_empty_set = on_empty_set
        self.on_nan_input = on_nan_input
        self.on_non_finite_output = on_non_finite_output
        self.threads = threads

    def fit(self, X, y=None):
        """Learns nothing: records the inputs' count and, for a DataFrame, its column names.

        Parameters:
            X: rows as System.evaluate takes them (an array or a DataFrame).
            y: ignored.
        Returns:
            self.
        Raises:
            nothing: the data is checked by transform.

        Example:
            >>> FuzzyTransformer(dimmer).fit(frame)
        """
        self.n_features_in_ = len(self.system.inputs)
        if getattr(X, "columns", None) is not None:
            # transform reads the inputs' columns by name, whatever else the frame holds
            self.feature_names_in_ = np.asarray(self.system.input_names, dtype=object)
        return self

    def transform(self, X):
        """The crisp outputs of every row of X, as System.evaluate gives them.

        Parameters:
            X: an array (rows, inputs) in input order, or a DataFrame whose
                columns are matched to the inputs by name.
        Returns:
            a float64 array (rows, outputs).
        Raises:
            FazoltError, KeyError: as System.evaluate.
        Warns:
            FazoltWarning: as System.evaluate.

        Example:
            >>> FuzzyTransformer(dimmer).fit_transform([[5, 0.9], [15, 0.6]])
        """
        out = self.system.evaluate(X, on_out_of_range=self.on_out_of_range, on_no_rule_fired=self.on_no_rule_fired,
                                   on_empty_set=self.on_empty_set, on_nan_input=self.on_nan_input,
                                   on_non_finite_output=self.on_non_finite_output, threads=self.threads)
        # One row gives (outputs,), a one-output system's frame a Series.
        return np.asarray(out, dtype=np.float64).reshape(-1, len(self.system.outputs))

    def get_feature_names_out(self, input_features=None):
        """The outputs' names, the columns transform gives.

        Parameters:
            input_features: ignored (the system names its inputs).
        Returns:
            an object array of str.
        Raises:
            nothing.

        Example:
            >>> FuzzyTransformer(dimmer).get_feature_names_out()
            array(['lamp'], dtype=object)
        """
        return np.asarray(self.system.output_names, dtype=object)


class FuzzyRegressor(RegressorMixin, BaseEstimator):
    """A first-order Sugeno system fitted to (X, y): fazolt.tune.grid, then
    fazolt.tune.fit's hybrid method with ridge-regularised levels, stopped at
    the best iteration on a held-out share of the rows. Quiet, and on one
    thread, as scikit-learn's own estimators.

    Parameters:
        terms: terms per input, evenly spread over its range. Inputs get them
            in column order while the rules stay at most `max_rules` and the
            parameters of the levels at most half the rows; the rest get one.
        shape: "gaussmf", "gbellmf" or "trimf".
        max_rules: see terms.
        max_iter, ridge, patience: as fazolt.tune.fit.
        validation_fraction: the share of rows held out to choose the
            iteration kept (0: none; the last iteration is kept).
        random_state: the held-out rows' draw.
        threads: evaluation threads (0: one per core).

    Attributes:
        system_: the fitted fazolt.System (inputs input1..., output "y").
        report_: fit's fazolt.tune.Report; n_iter_: its iterations.
        n_features_in_, feature_names_in_: as scikit-learn sets them.

    Example:
        >>> from sklearn.model_selection import cross_val_score
        >>> model = FuzzyRegressor(terms=3).fit(X_train, y_train)
        >>> model.score(X_test, y_test)
        >>> cross_val_score(FuzzyRegressor(), X, y, cv=5, n_jobs=2)
    """

    def __init__(self, terms=2, shape="gaussmf", max_rules=32, max_iter=30, ridge="gcv", patience=5,
                 validation_fraction=0.2, random_state=0, threads=1):
        self.terms = terms
        self.shape = shape
        self.max_rules = max_rules
        self.max_iter = max_iter
        self.ridge = ridge
        self.patience = patience
        self.validation_fraction = validation_fraction
        self.random_state = random_state
        self.threads = threads

    def _term_counts(self, rows, width):
        counts, rules = [], 1
        for _ in range(width):
            grown = rules * self.terms
            fits = grown <= self.max_rules and grown * (width + 1) <= rows / 2
            counts.append(self.terms if fits else 1)
            rules = grown if fits else rules
        return counts

    def fit(self, X, y):
        """Fits a system to the rows of X and the targets y.

        Parameters:
            X: an array-like (rows, features) of numbers, or a DataFrame.
            y: the targets (rows,).
        Returns:
            self.
        Raises:
            ValueError: what scikit-learn's checks refuse (NaN, an empty X,
                rows and targets of unequal count); FazoltError: as fit.

        Example:
            >>> FuzzyRegressor(terms=3, shape="gbellmf").fit(X, y).system_
        """
        from . import tune
        X, y = self._validate_data(X, y, y_numeric=True, dtype=np.float64)
        y = column_or_1d(y, warn=True).astype(np.float64)
        n = len(X)
        held_out = int(round(self.validation_fraction * n)) if n >= 20 else 0
        order = np.random.default_rng(self.random_state).permutation(n)
        train, checked = np.sort(order[held_out:]), np.sort(order[:held_out])
        start = tune.grid(X, y, terms=self._term_counts(len(train), X.shape[1]), shape=self.shape, name="regressor")
        validation = (X[checked], y[checked]) if held_out else None
        self.system_, self.report_ = tune.fit(start, X[train], y[train], tune=("inputs", "outputs"),
                                              method="hybrid", max_iter=self.max_iter, validation=validation,
                                              progress=False, threads=self.threads, ridge=self.ridge,
                                              patience=self.patience)
        self.n_iter_ = self.report_.iterations
        return self

    def predict(self, X):
        """The fitted system's outputs, evaluated by the module.

        Parameters:
            X: rows as fit took them, with the same columns.
        Returns:
            a float64 array (rows,).
        Raises:
            NotFittedError: before fit. ValueError: a different column count.

        Example:
            >>> FuzzyRegressor().fit(X, y).predict(X[:5])
        """
        from .tune import QUIET
        check_is_fitted(self, "system_")
        X = self._validate_data(X, reset=False, dtype=np.float64)
        return self.system_.evaluate(X, threads=self.threads, **QUIET)[:, 0]
